#pragma once

#include "startup/ErrorPresenter.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace sonavel {

// The one error dialog: the error text, and on request the chain of report
// entries that the failure left on its way up. Whether the details are shown
// is remembered for the whole run, so the dialog reopens as the user left it.
//
// Controls (objectName = accessible name): imgError, lblError, cmdClose,
// cmdDetails, txtErrorDetails.
class frmError : public QDialog, public ErrorPresenter {
    Q_OBJECT
public:
    // Twips (1440 to the inch) at 15 twips per pixel.
    static constexpr int TwipsPerPixel = 15;
    static constexpr int ClientWidthPx = 4680 / TwipsPerPixel;
    // The window heights in twips less a fixed dialog's title bar and borders,
    // so that the collapsed dialog ends just above the details box.
    static constexpr int NonClientTwips = 375;
    static constexpr int ExpandedHeightPx = (3915 - NonClientTwips) / TwipsPerPixel;
    static constexpr int CollapsedHeightPx = (1815 - NonClientTwips) / TwipsPerPixel;

    explicit frmError(QWidget* parent = nullptr);

    // Shows text and details modally and returns when the user closed it.
    void Present(const std::string& text, const std::string& details) override;

    static bool DetailsVisible() { return s_detailsVisible; }

private:
    void Form_Load();
    void cmdDetails_Click();
    void ResizeForDetails();

    static bool s_detailsVisible;

    QLabel* m_imgError;
    QLabel* m_lblError;
    QPushButton* m_cmdClose;
    QPushButton* m_cmdDetails;
    QPlainTextEdit* m_txtErrorDetails;
};

} // namespace sonavel
