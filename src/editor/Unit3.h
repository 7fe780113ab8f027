#pragma once

// TForm3: the wizard window, also used as the splash screen at start-up, the
// registration picture (a QR code of the service's register page) and the host of
// the options panel. In its browser mode it loads a task's guide page, page and
// element step by step, the user pressing "下一步" between steps, and reads the
// page source, which it hands to the editor (PageRead) as it closes.

#include "browser/page_steps.h"

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QPushButton;

namespace vexory {

class WebEngineBrowser;

class TForm3 : public QDialog, private WizardStepHost
{
    Q_OBJECT
public:
    enum class Mode
    {
        Splash,
        Registration,
        Options,
        Browser
    };

    explicit TForm3(QWidget* parent = nullptr);

    ~TForm3() override;

    // Borderless, sized to the splash picture, centred.
    void ShowSplash();
    // Tool window sized to the QR code of `registerUrl`, caption "微信扫码完成注册".
    // ACCOUNTURL, when given, is named under the code as the next step.
    void SetRegistration(const QString& registerUrl, const QString& accountUrl = {});
    // The account page's code, where the user binds the channels results go to.
    void SetAccountPage(const QString& accountUrl);
    // Tool window holding `panel` (337 x 298), caption "Vexory  -  设置".
    void SetOptions(QWidget* panel);
    // Tool window with the status line, "下一步" and the browser.
    void SetBrowserMode();
    // The wizard's four values and its first step; the caller then shows it modally.
    void PrepareWizard(const std::string& guideUrl, const std::string& pageUrl, uint32_t timeoutMs,
                       const std::string& elementId);
    // Runs the current step (the step timer's tick).
    void RunStep();

    // The flag that ends page waits when the program ends.
    void SetStopFlag(const std::atomic<uint8_t>* stop) { m_stop = stop; }
    WebEngineBrowser* Browser();
    // Puts the browser control into the wizard window.
    void TakeBrowser();
    // The page step (PageStep codes); -1 without one.
    int Step() const { return m_steps ? m_steps->Step() : -1; }
    QLabel* StatusLabel() const { return m_status; }
    QPushButton* NextButton() const { return m_next; }
    const QString& LastUrl() const { return m_lastUrl; }

    Mode CurrentMode() const { return m_mode; }
    QLabel* Picture() const { return m_picture; }
    QLabel* RegistrationLink() const { return m_link; }

    static QImage SplashPicture();
    static QImage QrPicture(const QString& text, int scale = 6);

    void reject() override;

signals:
    // The wizard closes with a page read: its pseudo-code, and the browser showing
    // it, which the editor takes into its own tab.
    void PageRead(const std::string& pseudoCode, QWidget* browserView);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showCode(const QString& caption, const QString& url, const QString& under);
    void takeLoadedPage();
    void centre();
    // What the page steps ask of the wizard.
    bool Load(const std::string& url) override;
    void WaitForPage() override;
    void Tell(News news) override;
    void ReadPage() override;
    void beforeNavigate(const QUrl& url);
    void downloadRequested(const QUrl& url);

    Mode m_mode = Mode::Splash;
    QLabel* m_picture = nullptr;
    QLabel* m_link = nullptr; // the registration address under its code
    QWidget* m_panel = nullptr;
    QWidget* m_top = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_next = nullptr;
    QWidget* m_browserHost = nullptr;
    WebEngineBrowser* m_browser = nullptr;
    std::string m_readCode; // the pseudo-code of the page read since the wizard was prepared
    QTimer m_stepTimer;
    std::unique_ptr<WizardSteps> m_steps; // on m_browser, once a wizard was prepared
    bool m_stepRunning = false;
    std::string m_guide, m_page;
    uint32_t m_timeout = 0;
    QString m_lastUrl;
    std::string m_stillLoading; // a load that outlasted its wait; "下一步" waits on for it
    std::atomic<uint8_t> m_ownStop{0};
    const std::atomic<uint8_t>* m_stop = &m_ownStop;
};

} // namespace vexory
