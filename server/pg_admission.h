// The admission of servers sharing a PostgreSQL database: every server hands out, takes and counts
// tokens and requests in it (the functions pellorin_issue_token, pellorin_take_token and pellorin_allow
// of the store's schema). Made by the PostgreSQL store.
#pragma once

#include <functional>
#include <memory>

#include "server/admission.h"
#include "server/pg_pool.h"

// stored is called whenever the admission stores an entry (the store counts its changes).
std::unique_ptr<TAdmission> MakePgAdmission(TPgPool& pool, std::function<void()> stored,
                                            const TAdmissionLimits& limits);
