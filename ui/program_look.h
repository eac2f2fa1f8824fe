#pragma once

#include <QFont>
#include <QIcon>

namespace dialmend {

// A fixed-size dialog frame with a close box and no minimise or maximise button.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint;

// The program's icon, used for every window and shown inside them.
[[nodiscard]] QIcon ProgramIcon();

// The 18-point serif face of the windows' "Dialmend" headings.
[[nodiscard]] QFont TitleFont();

// The platform's UI font at 8.25 points; bold for the main buttons.
[[nodiscard]] QFont ControlFont(bool bold = false);

// `twips` in pixels at the screen's logical dpi: the windows' places are kept in twips.
[[nodiscard]] int Px(int twips);

}  // namespace dialmend
