#include "util/process_state.h"

namespace zelvik {

char g_szExeDir[1024] = {};
std::atomic<std::int32_t> g_bstop{0};
char g_szLogDay[32] = {};

}  // namespace zelvik
