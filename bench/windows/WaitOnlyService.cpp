// Reference service: nothing but the wait on its stop event. Its idle cost is Wine's own floor
// for a running service.
#include "bench/windows/ReferenceService.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  return bench::RunReferenceService(L"WaitOnlyService", nullptr);
}
