#pragma once

#include <QDialog>

namespace sonavel {

// The About box. Its caption and icon follow the parent, the main window.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);
};

} // namespace sonavel
