// Songs in the browser build. libopenmpt is not part of this build yet, so no module loads and the game
// plays without music, as it does on a desktop whose song files are unreadable.
#include "platform/module_player.h"

namespace plat {

std::unique_ptr<TModulePlayer> LoadModule(const std::vector<uint8_t>&, std::vector<std::string>* log) {
  if (log) log->push_back("this build plays no tracker modules");
  return nullptr;
}

}  // namespace plat
