#include "platform/env.h"

namespace talvo {
namespace {
Env* g_current = nullptr;  // nullptr: the system layer
}  // namespace

Env& CurrentEnv() { return g_current != nullptr ? *g_current : SystemEnv(); }

Env* SetCurrentEnv(Env* env) {
  Env* previous = g_current;
  g_current = env;
  return previous;
}

}  // namespace talvo
