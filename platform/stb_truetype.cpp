// stb_truetype's implementation, compiled once for the program. Built with floating-point contraction
// off (see CMakeLists.txt): the rasteriser then uses only IEEE-exact operations (+, -, *, /, sqrt,
// floor, ceil, fabs), so a glyph's coverage is the same bit for bit on every machine and compiler.
// The functions that would need the C library's pow, fmod, cos or acos (signed distance fields, the
// oversampling prefilter, cubic outlines) are never called here; they stop the program rather than
// bring in maths that may round differently elsewhere. font.cpp checks a file's structure before
// handing it to stb_truetype, which does not check offsets itself.
#include <cmath>
#include <cstdlib>
#include <cstring>

#define STBTT_ifloor(x) (static_cast<int>(std::floor(x)))
#define STBTT_iceil(x) (static_cast<int>(std::ceil(x)))
#define STBTT_sqrt(x) std::sqrt(x)
#define STBTT_fabs(x) std::fabs(x)
#define STBTT_pow(x, y) (std::abort(), 0.0)
#define STBTT_fmod(x, y) (std::abort(), 0.0)
#define STBTT_cos(x) (std::abort(), 0.0)
#define STBTT_acos(x) (std::abort(), 0.0)
#define STBTT_assert(x) ((void)0)
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>
