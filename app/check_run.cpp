#include "app/check_run.h"

#include "app/run_loader.h"
#include "report/observer.h"
#include "update/prepare_image.h"

namespace gpsfw {

int CheckImage(const wchar_t* imagePath) {
  Observe().OnPhase(UpdatePhase::kPreparing);
  RunState run;
  if (!PrepareImage(run, imagePath)) return kRunImageFailed;
  Observe().OnPrepared(run.prepared);
  return kRunOk;
}

}  // namespace gpsfw
