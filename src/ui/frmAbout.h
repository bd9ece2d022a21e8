#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmAbout;
}

namespace sonavel {

class clsErrorHandler;

// The About box. Its caption and icon follow the parent, the main window.
// A failure while it loads is shown through errors when given.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr, clsErrorHandler* errors = nullptr);
    ~frmAbout() override;

private:
    void Form_Load();
    void cmdOK_Click();

    std::unique_ptr<Ui::frmAbout> m_ui;
    clsErrorHandler* m_errors;
};

} // namespace sonavel
