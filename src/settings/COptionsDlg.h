#pragma once

#include "net/MailDelivery.h"

#include <climits>
#include <optional>
#include <string>

// The Options dialog's object. Like every dialog class of the program it owns
// its fields and has no window until DoModal runs, so it can be constructed
// on any thread just to read the settings as they are stored at that moment.
//
// This class is the half the core needs and can test without a display: the
// fields, read and written through one table of every value the program
// stores (the window's own included), the exchange between the controls'
// values and the fields with its checks, and every handler's rule and
// write. The test message itself is the mail code's (MailAlert). The window
// is a separate class of the desktop library, COptionsWindow (src/ui), that
// edits one COptionsDlg and is shown with COptionsWindow::Run: it builds the
// controls, hands their values over as Controls, shows the Notice it gets
// back (caption "Kestrelle", focus on the control named) and enables the
// controls from the fields. So the core never links a window, and the class
// has one definition.
class COptionsDlg
{
public:
    // Loads every setting (LoadSettings).
    COptionsDlg();

    // Sets every field to its default, then reads the stored values over
    // them, each by its own rule, from one reading of the store. Stored
    // values that the check timer cannot take as they are (an m_Minutes
    // below 1, say) are loaded as they are: bounding them is the timer's
    // business. Writes nothing.
    void LoadSettings();

    // Writes one field to the store, under its value name and in the form
    // its rule reads back. False, said on standard error, when it could not
    // be stored.
    bool Store(int COptionsDlg::*field) const;
    bool Store(std::string COptionsDlg::*field) const;
    // Stores `value` for one number field without loading the others.
    static bool StoreValue(int COptionsDlg::*field, int value);
    static bool StoreValue(std::string COptionsDlg::*field, const std::string& value);

    // The control ids the window's controls keep as their names.
    static constexpr int kMinutesEdit = 1037;
    static constexpr int kServerEdit = 1042;
    static constexpr int kAddressEdit = 1043;
    static constexpr int kPortEdit = 1047;
    static constexpr int kSecurityCombo = 1048;
    static constexpr int kCertWarnDaysEdit = 1049;
    // The most days ahead a certificate warning may look.
    static constexpr int kMaxCertWarnDays = 3650;
    static constexpr int kParallelEdit = 1050;
    static constexpr int kConfirmEdit = 1051;

    // What the controls hold, as the window reads them.
    struct Controls
    {
        std::string minutes; // edit 1037
        bool playSound = false;
        std::string password;
        std::string username;
        std::string address;
        bool enableEmail = false;
        std::string server;
        std::string port;           // edit 1047
        int security = 0;           // index of the "Connection security" drop-down
        std::string parallelChecks; // "Check up to N sites at once"
        std::string confirmSeconds; // "Check a failing site again after N seconds ..."
        bool recoveryBalloon = true;
        bool recoveryEmail = false;
        std::string certWarnDays; // edit "certWarnDaysEdit"
    };
    // The fields as the controls show them.
    Controls Values() const;

    // A message box to show: its text, its icon, and the control that gets
    // the focus (0 for none).
    struct Notice
    {
        enum class Icon
        {
            Exclamation,
            Stop,
            Information
        };
        std::string text;
        Icon icon = Icon::Stop;
        int focus = 0;
    };

    // The checks of the two number fields: the value, or the message.
    static std::optional<std::string> CheckMinutes(const std::string& text, int& value);
    static std::optional<std::string> CheckPort(const std::string& text, int& value);
    static std::optional<std::string> CheckCertWarnDays(const std::string& text, int& value);

    // How many sites a pass checks at once (1 to 64), and the seconds after
    // which a failing site is checked again before alerting (0 to 3600).
    static std::optional<std::string> CheckParallel(const std::string& text, int& value);
    static std::optional<std::string> CheckConfirm(const std::string& text, int& value);

    // Takes the controls' values into the fields in the exchange order
    // (minutes, parallel checks, confirm seconds, sound flag, password,
    // user name, address, e-mail flag, server, port, security, recovery
    // balloon, recovery e-mail, certificate days). A number that fails its
    // check stops it there: the fields before have their new values, that
    // one and those after keep theirs, and the Notice says why.
    std::optional<Notice> TakeValues(const Controls& controls);

    // The handlers. Each begins by taking the values and stops with the
    // Notice when that fails; none shows anything itself.
    // Check box 1024: writes m_PlaySound at once; the window then enables
    // Preview and Browse from m_PlaySound.
    std::optional<Notice> OnPlaySoundClicked(const Controls& controls);
    // Check box 1041: writes m_EnableEMail at once; the window then enables
    // Test Email and the server, address, user name and password edits from
    // m_EnableEmail (the port edit stays enabled).
    std::optional<Notice> OnEnableEmailClicked(const Controls& controls);
    // A sound file chosen with Browse: sets the path and the sound's name
    // and writes WavPathname at once. The window shows the fields again.
    void OnSoundChosen(const std::string& path);
    // OK: a Notice keeps the dialog open with nothing written; none means
    // everything is written (SaveOnOk) and the dialog closes with OK.
    std::optional<Notice> OnOk(const Controls& controls);

    // Test Email: takes the values and checks the server and the sender
    // address. None means the message (MailAlert::TestMessage) may go.
    // Writes nothing.
    std::optional<Notice> TestEmailChecks(const Controls& controls);
    // What the dialog says after the test message: nothing when the server
    // could not be reached.
    static std::optional<Notice> TestEmailNotice(const MailDelivery::Report& report,
                                                 const std::string& recipient);
    // When the stored connection security is none the dialog knows, what it
    // says on opening (the drop-down shows None); else none.
    std::optional<Notice> UnknownSecurityNotice() const;

    // OK's writes, in this order: m_Minutes, iParallelChecks,
    // iConfirmSeconds, m_EmailServer, m_EmailPort, m_EmailSecurity,
    // m_EmailAddress, m_EmailUsername, m_EmailPassword, bRecoveryBalloon,
    // bRecoveryEmail, iCertWarnDays.
    void SaveOnOk() const;

    int m_Minutes{};
    // How many sites a check pass checks at once; 1 checks one after another.
    int m_iParallelChecks{};
    // A site whose check fails is checked again this many seconds later,
    // and only a second failure raises the alerts; 0: no second look.
    int m_iConfirmSeconds{};
    int m_PlaySound{};
    std::string m_SoundName;
    std::string m_WavPathname;
    int m_EnableEmail{};
    std::string m_EmailServer;
    int m_EmailPort{};
    // 0 plain SMTP (the default), 1 STARTTLS, 2 TLS from the first byte;
    // MailRules::kSecurityUnknown for a stored text other than those.
    int m_EmailSecurity{};
    std::string m_EmailAddress;
    std::string m_EmailUsername;
    std::string m_EmailPassword;

    // A balloon when a site that was down is up again (stored as
    // bRecoveryBalloon, on by default), and an e-mail then too when e-mail
    // notification is on (bRecoveryEmail, off by default).
    int m_bRecoveryBalloon{};
    int m_bRecoveryEmail{};
    // A site whose certificate runs out within this many days is shown and
    // told about (iCertWarnDays, 14 by default; 0: never).
    int m_iCertWarnDays{};

    // The Prometheus text file rewritten after each check pass; empty: none.
    // Set in the store only (no control shows it).
    std::string m_MetricsFile;

    // The window's own values, kept with the rest; the two flags are -1
    // when not stored (or stored empty).
    int m_bMinimized{};           // 1: the window starts hidden in the tray
    int m_bHideMinimizeBalloon{}; // 1: the user wants no hide balloon
    // How many hide balloons were shown; kNotStored when none is stored.
    static constexpr int kNotStored = INT_MIN;
    int m_iShowBalloonTimes{};
    // Where the main window was and how large, as Qt saves a window's
    // geometry (base64), and the widths the user gave the list's columns
    // ("220,80,170,140,800"); empty when not stored.
    std::string m_WindowGeometry;
    std::string m_ListColumns;

    // The sound used when WavPathname names no file; it is one of the
    // program's own files (AppPaths::ProgramDataFile).
    static constexpr const char* kDefaultSound = "default.wav";
};
