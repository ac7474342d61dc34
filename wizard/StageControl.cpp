#include "wizard/StageControl.h"

namespace upd::wizard {

TStageControl& StageControl() noexcept
{
    static TStageControl control;
    return control;
}

} // namespace upd::wizard
