// Resource identifiers shared by setup.rc and the code (plain macros: the
// resource compiler reads this file too).
#pragma once

#define kSidePictureId 100
