#include "image/ImageFailure.h"

namespace image {
namespace {
std::string g_lastFailure;
FailureHook g_hook = nullptr;
}  // namespace

void noteFailure(const char* text) {
  g_lastFailure = text ? text : "";
  if (g_hook) g_hook(g_lastFailure.c_str());
}

const std::string& lastFailure() { return g_lastFailure; }

void clearFailure() { g_lastFailure.clear(); }

void setFailureHook(FailureHook hook) { g_hook = hook; }

}  // namespace image
