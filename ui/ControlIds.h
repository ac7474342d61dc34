// Control identifiers of the wizard's windows. The UI test driver finds the
// controls by these numbers, so they are part of the wizard's outside view.
#pragma once

namespace upd::ui {

inline constexpr const char* kWizardCaption = "Actualizare Pravion si Kelmira";

enum TControlId : int {
    kIdPanel1 = 100,
    kIdImage1 = 101,
    kIdButton1 = 102, ///< Next: "Inainte >>", on the last page "Finalizeaza"
    kIdButton2 = 103, ///< Cancel: "Renunt"
    // Pages: kIdFirstPage + index in the sequence.
    kIdFirstPage = 200,
    // Inside a page.
    kIdLabel1 = 11,
    kIdLabel2 = 12,
    kIdLabel3 = 13,
    kIdLabel4 = 14,
    kIdProgressBar1 = 21,
    kIdQvtParagraf1 = 31,
};

} // namespace upd::ui
