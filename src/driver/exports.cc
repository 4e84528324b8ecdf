// The seven exports: each hands its arguments to the call of the same name in
// driver_calls.h, with the module's one Driver on the system's platform layer.
#include <memory>

#include "driver/driver.h"
#include "driver/driver_calls.h"
#include "platform/env.h"
#include "talvo/driver.h"

namespace talvo {
namespace {

// The module's platform layer and driver: the only state of the library. They
// are built at the first call of any export and live until the module is
// unloaded. Null only when memory ran out building them; the next call tries
// again.
struct Module {
  std::unique_ptr<Env> env = NewSystemEnv();
  Driver driver{*env};
};

Driver* ModuleDriver() noexcept {
  try {
    static Module module;
    return &module.driver;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace
}  // namespace talvo

using talvo::ModuleDriver;

extern "C" {

TALVO_EXPORT int32_t TALVO_CALL DrvGetHandle(void) {
  talvo::Driver* driver = ModuleDriver();
  return driver == nullptr ? 0 : talvo::calls::GetHandle(*driver);
}

TALVO_EXPORT void TALVO_CALL DrvInitDriver(int32_t handle, const unsigned char* settingsFile,
                                           int32_t* indexBase) {
  if (talvo::Driver* driver = ModuleDriver()) talvo::calls::InitDriver(*driver, handle, settingsFile, indexBase);
}

TALVO_EXPORT uint8_t TALVO_CALL DrvProcessStart(const unsigned char* text) {
  talvo::Driver* driver = ModuleDriver();
  return driver == nullptr ? 1 : talvo::calls::ProcessStart(*driver, text);
}

#if defined(TALVO_REGISTER_ABI)
// The stack arguments in reverse, so that GCC reads them where the host pushed
// them (see TALVO_REGISTER_ABI in talvo/driver.h).
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList* lines, HostText* carryOverLine,
                                               int32_t* errorCode, int32_t* callIndex,
                                               int32_t* recordCount, unsigned char* callDate,
                                               CallRecord* records) {
#else
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList* lines, HostText* carryOverLine,
                                               CallRecord* records, unsigned char* callDate,
                                               int32_t* recordCount, int32_t* callIndex,
                                               int32_t* errorCode) {
#endif
  talvo::Driver* driver = ModuleDriver();
  if (driver == nullptr) return TALVO_RESULT_NO_RECORD;
  return talvo::calls::ProcessLine(*driver, index, lines, carryOverLine, records, callDate, recordCount, callIndex,
                                   errorCode);
}

TALVO_EXPORT void TALVO_CALL DrvProcessEnd(const unsigned char* text) {
  if (talvo::Driver* driver = ModuleDriver()) talvo::calls::ProcessEnd(*driver, text);
}

TALVO_EXPORT void TALVO_CALL DrvProcessClose(int32_t handle) {
  if (talvo::Driver* driver = ModuleDriver()) talvo::calls::ProcessClose(*driver, handle);
}

TALVO_EXPORT void TALVO_CALL DrvProcessVer(unsigned char* result) { talvo::calls::ProcessVer(result); }

}  // extern "C"
