#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <string>

namespace sonavel {

class HelpBrowser;

// The desktop as a Qt program sees it: files open in the application the user
// chose for them, help pages in the program's own help window. Destroy it
// before the QApplication, since it owns that window.
class QtDesktop : public Desktop {
public:
    QtDesktop();
    ~QtDesktop() override;
    QtDesktop(const QtDesktop&) = delete;
    QtDesktop& operator=(const QtDesktop&) = delete;

    bool OpenInEditor(const std::string& path) override;
    void ShowHelpPage(const std::string& path) override;
    std::string ChooseSaveFile(const std::string& title, const std::string& suggested) override;

    // The help window, or null before the first ShowHelpPage.
    HelpBrowser* HelpWindow() const { return m_help.get(); }

private:
    std::unique_ptr<HelpBrowser> m_help;
};

} // namespace sonavel
