// The wizard through the real transform.exe, driven the way a user drives it:
// the test finds the dialog by its title and works its controls with window
// messages (choose an item, type into a field, click, Enter, Escape). The
// results are judged by the host's ImageMagick. Needs a display: CTest runs
// this program on a virtual X display (scripts/wine-with-display.sh).
#include <windows.h>

#include <atomic>
#include <thread>

#include "ConverterFixture.h"
#include "converter/wizard/WizardIds.h"
#include "support/SettingsKey.h"

namespace {

constexpr wchar_t kTitle[] = L"Vardel Quennel Wizard";
constexpr DWORD kCancelledExit = ERROR_CANCELLED;
const std::string kWizardKey = std::string(kSettingsKey) + "\\Wizard";

std::wstring Text(HWND window) {
    wchar_t buffer[1024] = {};
    // WM_GETTEXT, not GetWindowText: a combo box answers with its selection.
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::string SettingText(const char* name) {
    char value[64] = {};
    DWORD size = sizeof value;
    const std::string section = std::string(kSettingsKey) + "\\" + kSettingsSection;
    if (RegGetValueA(HKEY_CURRENT_USER, section.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "(missing)";
    return value;
}

class WizardTest : public ConverterFixture {
protected:
    // Starts the converter with the wizard's token on these paths and waits
    // for its dialog.
    HWND Open(const std::vector<std::wstring>& paths) {
        done_ = false;
        runner_ = std::thread([this, paths] {
            result_ = Convert(paths, "TOXXX");
            done_ = true;
        });
        const DWORD start = GetTickCount();
        while (!done_ && GetTickCount() - start < 60000) {
            const HWND dialog = FindWindowW(L"#32770", kTitle);
            if (dialog && IsWindowVisible(dialog)) return dialog;
            Sleep(20);
        }
        return nullptr;
    }

    // Waits for the converter's end. What it still shows after a while
    // (a dialog not closed by a failed step, a message box) is closed, so a
    // failure ends the test instead of hanging it.
    ProcessResult Finish() {
        const DWORD start = GetTickCount();
        while (!done_ && GetTickCount() - start < 60000) Sleep(20);
        while (!done_) {
            for (const wchar_t* title : {kTitle, L"Grafikformat \u00e4ndern"})
                if (const HWND window = FindWindowW(nullptr, title)) PostMessageW(window, WM_CLOSE, 0, 0);
            Sleep(200);
        }
        runner_.join();
        return result_;
    }

    void TearDown() override {
        if (runner_.joinable()) Finish();
        ConverterFixture::TearDown();
    }

    // A user's choice in a drop-down list: the selection moves and the
    // dialog hears of it.
    static void Choose(HWND dialog, int id, const std::wstring& item) {
        const HWND list = GetDlgItem(dialog, id);
        const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(item.c_str()));
        ASSERT_NE(index, CB_ERR) << Utf8FromWide(item);
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    static std::vector<std::wstring> Items(HWND dialog, int id) {
        const HWND list = GetDlgItem(dialog, id);
        std::vector<std::wstring> items;
        const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t item[256] = {};
            if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 255)
                SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
            items.push_back(item);
        }
        return items;
    }
    static void Type(HWND dialog, int id, const std::wstring& text) {
        SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    static void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    static bool Checked(HWND dialog, int id) {
        return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    // A key as the keyboard sends it: into the dialog thread's queue, where
    // the dialog manager sees it first.
    static void Key(HWND dialog, int focusedId, WPARAM key) {
        const HWND target = GetDlgItem(dialog, focusedId);
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
    }
    static HWND Focused(HWND dialog) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        return info.hwndFocus;
    }

    CleanSettingsKey settings_;

private:
    std::thread runner_;
    std::atomic<bool> done_{true};
    ProcessResult result_;
};

TEST_F(WizardTest, OwnSizeIntoAChosenFolderAndTheChoicesComeBack) {
    MakePicture(At(L"a.png"), "-size 400x300 gradient:red-blue");
    MakePicture(At(L"b.bmp"), "-size 120x240 gradient:green-white");
    ASSERT_TRUE(CreateDirectoryW(At(L"Bilder").c_str(), nullptr));
    MakePicture(At(L"Bilder\\c.png"), "-size 50x50 xc:yellow");
    const std::wstring out = At(L"Ergebnisse");
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));

    HWND dialog = Open({At(L"a.png"), At(L"b.bmp"), At(L"Bilder")});
    ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared";
    const std::vector<std::wstring> before = Names(Dir());  // with the list
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_SELECTION)), L"Ausgew\u00e4hlt: 2 Bilder und 1 Ordner (mit Unterordnern).");
    // First time: JPEG, the size kept, never enlarged, next to the sources.
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_FORMAT)), L"JPEG (.jpg)");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_SIZE)), L"Gr\u00f6\u00dfe beibehalten");
    EXPECT_TRUE(Checked(dialog, IDC_WIZARD_NO_ENLARGE));
    EXPECT_TRUE(Checked(dialog, IDC_WIZARD_BESIDE));
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_WIDTH));
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_FOLDER));
    // Every format of the table, after keeping the format.
    const std::vector<std::wstring> formats = Items(dialog, IDC_WIZARD_FORMAT);
    ASSERT_EQ(formats.size(), 17u);
    EXPECT_EQ(formats[0], L"Format beibehalten");
    EXPECT_EQ(formats[10], L"PNG (.png)");
    // WebP, lossy at the quality or lossless, after the menu's formats.
    EXPECT_EQ(formats[15], L"WebP (.webp)");
    EXPECT_EQ(formats[16], L"WebP verlustfrei (.webp)");
    Choose(dialog, IDC_WIZARD_FORMAT, L"WebP (.webp)");
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_QUALITY)) << "lossy WebP takes the quality";
    Choose(dialog, IDC_WIZARD_FORMAT, L"WebP verlustfrei (.webp)");
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_QUALITY)) << "lossless WebP has no quality";

    Choose(dialog, IDC_WIZARD_FORMAT, L"PNG (.png)");
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_QUALITY)) << "PNG has no quality";
    Choose(dialog, IDC_WIZARD_SIZE, L"eigene Gr\u00f6\u00dfe");
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_WIDTH));
    Type(dialog, IDC_WIZARD_WIDTH, L"100");
    Type(dialog, IDC_WIZARD_HEIGHT, L"100");
    Click(dialog, IDC_WIZARD_INTO_FOLDER);
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_FOLDER));
    Type(dialog, IDC_WIZARD_FOLDER, out);
    Click(dialog, IDOK);
    const ProcessResult run = Finish();
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    // Fitted into 100x100 keeping the aspect ratio; the small one not enlarged.
    EXPECT_EQ(Names(out), (std::vector<std::wstring>{L"a (100x100).png", L"b (100x100).png", L"c (100x100).png"}));
    EXPECT_EQ(Identify(out + L"\\a (100x100).png"), "PNG 100x75");
    EXPECT_EQ(Identify(out + L"\\b (100x100).png"), "PNG 50x100");
    EXPECT_EQ(Identify(out + L"\\c (100x100).png"), "PNG 50x50");
    EXPECT_EQ(Names(Dir()), before);
    EXPECT_EQ(Names(At(L"Bilder")), std::vector<std::wstring>{L"c.png"});
    // Remembered in the converter's own key; the extension's section untouched.
    EXPECT_GT(ValueCount(kWizardKey), 0);
    EXPECT_FALSE(SettingsSectionExists());

    // The next time the dialog opens as it was left; Escape leaves it and
    // writes nothing.
    dialog = Open({At(L"a.png")});
    ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared the second time";
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_SELECTION)), L"Ausgew\u00e4hlt: 1 Bild.");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_FORMAT)), L"PNG (.png)");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_SIZE)), L"eigene Gr\u00f6\u00dfe");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_WIDTH)), L"100");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_HEIGHT)), L"100");
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_WIDTH));
    EXPECT_TRUE(Checked(dialog, IDC_WIZARD_NO_ENLARGE));
    EXPECT_TRUE(Checked(dialog, IDC_WIZARD_INTO_FOLDER));
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_FOLDER)), out);
    Key(dialog, IDC_WIZARD_FORMAT, VK_ESCAPE);
    const ProcessResult cancelled = Finish();
    EXPECT_EQ(cancelled.exitCode, kCancelledExit) << cancelled.err;
    EXPECT_EQ(Names(out).size(), 3u);
    EXPECT_EQ(Names(Dir()), before);
}

TEST_F(WizardTest, KeepFormatWithAPresetEnlargedAndEnterStarts) {
    // Preset 2 switched off, 3 and 7 the user's own; the others the defaults.
    ASSERT_TRUE(WriteSettingText("SIZEX2", "0"));
    ASSERT_TRUE(WriteSettingText("SIZEX3", "160"));
    ASSERT_TRUE(WriteSettingText("SIZEY3", "120"));
    ASSERT_TRUE(WriteSettingText("SIZEX7", "64"));
    ASSERT_TRUE(WriteSettingText("SIZEY7", "64"));
    MakePicture(At(L"c.jpg"), "-size 80x60 gradient:red-blue");
    MakePicture(At(L"d.gif"), "-size 40x40 xc:blue");
    MakePicture(At(L"e.png"), "-size 300x150 gradient:white-black");

    const HWND dialog = Open({At(L"c.jpg"), At(L"d.gif"), At(L"e.png")});
    ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared";
    EXPECT_EQ(Items(dialog, IDC_WIZARD_SIZE),
              (std::vector<std::wstring>{L"Gr\u00f6\u00dfe beibehalten", L"neue Gr\u00f6\u00dfe 800x600 Pixel",
                                         L"neue Gr\u00f6\u00dfe 160x120 Pixel", L"neue Gr\u00f6\u00dfe 1280x720 Pixel",
                                         L"neue Gr\u00f6\u00dfe 1280x1024 Pixel", L"neue Gr\u00f6\u00dfe 64x64 Pixel",
                                         L"eigene Gr\u00f6\u00dfe"}));
    Choose(dialog, IDC_WIZARD_FORMAT, L"Format beibehalten");
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_QUALITY)) << "a kept JPEG uses the quality";
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_NO_ENLARGE)) << "nothing to enlarge while the size is kept";
    Choose(dialog, IDC_WIZARD_SIZE, L"neue Gr\u00f6\u00dfe 160x120 Pixel");
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_NO_ENLARGE));
    EXPECT_FALSE(Enabled(dialog, IDC_WIZARD_WIDTH));
    Click(dialog, IDC_WIZARD_NO_ENLARGE);
    EXPECT_FALSE(Checked(dialog, IDC_WIZARD_NO_ENLARGE));
    Type(dialog, IDC_WIZARD_QUALITY, L"75");
    Key(dialog, IDC_WIZARD_QUALITY, VK_RETURN);
    const ProcessResult run = Finish();
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    // Each in its own format, next to its source, enlarged into 160x120.
    EXPECT_EQ(Identify(At(L"c (160x120).jpg")), "JPEG 160x120");
    EXPECT_EQ(Identify(At(L"d (160x120).gif")), "GIF 120x120");
    EXPECT_EQ(Identify(At(L"e (160x120).png")), "PNG 160x80");
    EXPECT_EQ(Names(Dir()), (std::vector<std::wstring>{L"c (160x120).jpg", L"c.jpg", L"d (160x120).gif", L"d.gif",
                                                      L"e (160x120).png", L"e.png", L"files.txt"}));
    // The extension's values as they were.
    EXPECT_EQ(ValueCount(std::string(kSettingsKey) + "\\" + kSettingsSection), 5);
    EXPECT_EQ(SettingText("SIZEX2"), "0");
    EXPECT_EQ(SettingText("SIZEX3"), "160");
    EXPECT_EQ(SettingText("SIZEY3"), "120");
    EXPECT_EQ(SettingText("SIZEX7"), "64");
    EXPECT_EQ(SettingText("SIZEY7"), "64");
}

TEST_F(WizardTest, TheKeyboardReachesEveryFieldInOrder) {
    MakePicture(At(L"a.png"), "-size 40x30 xc:red");
    const HWND dialog = Open({At(L"a.png")});
    ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared";
    // Tab walks the enabled fields top to bottom and comes round again.
    EXPECT_EQ(Focused(dialog), GetDlgItem(dialog, IDC_WIZARD_FORMAT));
    for (int next : {IDC_WIZARD_QUALITY, IDC_WIZARD_SIZE, IDC_WIZARD_BESIDE, IDOK, IDCANCEL, IDC_WIZARD_FORMAT}) {
        const HWND from = Focused(dialog);
        Key(dialog, GetDlgCtrlID(from), VK_TAB);
        const DWORD start = GetTickCount();
        while (Focused(dialog) == from && GetTickCount() - start < 5000) Sleep(10);
        EXPECT_EQ(Focused(dialog), GetDlgItem(dialog, next)) << "Tab after control " << GetDlgCtrlID(from);
    }
    // Every mnemonic is the only one of its letter, and Alt+O takes the folder.
    std::wstring letters;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring text = Text(child);
        const size_t amp = text.find(L'&');
        if (amp == std::wstring::npos || amp + 1 >= text.size()) continue;
        const wchar_t letter = static_cast<wchar_t>(towlower(text[amp + 1]));
        EXPECT_EQ(letters.find(letter), std::wstring::npos) << "two mnemonics on " << static_cast<char>(letter);
        letters += letter;
    }
    EXPECT_GE(letters.size(), 9u);
    PostMessageW(Focused(dialog), WM_SYSCHAR, L'o', 1 | (1 << 29));
    const DWORD start = GetTickCount();
    while (!Checked(dialog, IDC_WIZARD_INTO_FOLDER) && GetTickCount() - start < 5000) Sleep(10);
    EXPECT_TRUE(Checked(dialog, IDC_WIZARD_INTO_FOLDER));
    EXPECT_TRUE(Enabled(dialog, IDC_WIZARD_FOLDER));
    Key(dialog, GetDlgCtrlID(Focused(dialog)), VK_ESCAPE);
    EXPECT_EQ(Finish().exitCode, kCancelledExit);
}

TEST_F(WizardTest, WrongInputIsRefusedInTheDialogWithItsReason) {
    MakePicture(At(L"a.png"), "-size 40x30 xc:red");

    const HWND dialog = Open({At(L"a.png")});
    ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared";
    const std::vector<std::wstring> before = Names(Dir());  // with the list
    struct Case {
        int field;
        std::wstring value;
        int refusedField;
        std::wstring reason;
    };
    const Case cases[] = {
        {IDC_WIZARD_QUALITY, L"0", IDC_WIZARD_QUALITY, L"Die JPEG-Qualit\u00e4t muss zwischen 1 und 100 liegen."},
        {IDC_WIZARD_QUALITY, L"90", IDC_WIZARD_WIDTH, L"Die Breite muss zwischen 1 und 65535 liegen."},
        {IDC_WIZARD_WIDTH, L"12a", IDC_WIZARD_WIDTH,
         L"Die Breite \u201e12a\u201c ist keine Zahl. Bitte geben Sie nur Ziffern ein."},
        {IDC_WIZARD_WIDTH, L"100", IDC_WIZARD_HEIGHT, L"Bitte geben Sie die H\u00f6he an."},
        {IDC_WIZARD_HEIGHT, L"70000", IDC_WIZARD_HEIGHT, L"Die H\u00f6he muss zwischen 1 und 65535 liegen."},
        {IDC_WIZARD_HEIGHT, L"50", IDC_WIZARD_FOLDER, L"Bitte w\u00e4hlen Sie den Ordner f\u00fcr die Ergebnisse."},
        {IDC_WIZARD_FOLDER, L"Ergebnisse", IDC_WIZARD_FOLDER,
         L"Bitte geben Sie den vollst\u00e4ndigen Pfad des Ordners an, zum Beispiel C:\\Bilder."},
        {IDC_WIZARD_FOLDER, At(L"fehlt"), IDC_WIZARD_FOLDER, L"Den Ordner \u201e" + At(L"fehlt") + L"\u201c gibt es nicht."},
        {IDC_WIZARD_FOLDER, At(L"a.png"), IDC_WIZARD_FOLDER, L"\u201e" + At(L"a.png") + L"\u201c ist kein Ordner."},
    };
    Choose(dialog, IDC_WIZARD_SIZE, L"eigene Gr\u00f6\u00dfe");
    Type(dialog, IDC_WIZARD_WIDTH, L"0");
    Click(dialog, IDC_WIZARD_INTO_FOLDER);
    for (const Case& c : cases) {
        Type(dialog, c.field, c.value);
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_PROBLEM)), L"") << "a change clears the last refusal";
        Click(dialog, IDOK);
        ASSERT_TRUE(IsWindow(dialog)) << "OK was taken with " << Utf8FromWide(c.value);
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_PROBLEM)), c.reason) << Utf8FromWide(c.value);
        EXPECT_EQ(Focused(dialog), GetDlgItem(dialog, c.refusedField)) << Utf8FromWide(c.value);
    }
    Click(dialog, IDCANCEL);
    const ProcessResult run = Finish();
    EXPECT_EQ(run.exitCode, kCancelledExit) << run.err;
    EXPECT_EQ(Names(Dir()), before);
    EXPECT_EQ(ValueCount(kWizardKey), -1) << "a cancelled dialog remembers nothing";
}

TEST_F(WizardTest, AFolderThatCannotBeWrittenIsRefused) {
    MakePicture(At(L"a.png"), "-size 40x30 xc:red");
    const std::wstring locked = At(L"locked");
    ASSERT_TRUE(CreateDirectoryW(locked.c_str(), nullptr));
    // The host's permissions, so that Wine meets a real refusal; root passes
    // permissions by, so it also gets the immutable flag.
    const std::string dir = Unix(locked);
    const ProcessResult lock = Host("chmod 0555 " + dir + " && { [ \"$(id -u)\" != 0 ] || chattr +i " + dir + "; }");
    if (lock.exitCode != 0) {
        Host("chmod 0755 " + dir);
        GTEST_SKIP() << "this file system cannot refuse writes to root (chattr +i failed): " << lock.out << lock.err;
    }
    const HWND dialog = Open({At(L"a.png")});
    EXPECT_NE(dialog, nullptr) << "no wizard dialog appeared";
    if (dialog) {
        Click(dialog, IDC_WIZARD_INTO_FOLDER);
        Type(dialog, IDC_WIZARD_FOLDER, locked);
        Click(dialog, IDOK);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_WIZARD_PROBLEM)),
                  L"In den Ordner \u201e" + locked + L"\u201c kann nicht geschrieben werden. Der Zugriff wurde verweigert.");
        Click(dialog, IDCANCEL);
    }
    const ProcessResult run = Finish();
    Host("chattr -i " + dir + " 2>/dev/null; chmod 0755 " + dir);
    EXPECT_EQ(run.exitCode, kCancelledExit) << run.err;
    EXPECT_TRUE(Names(locked).empty());
}

TEST_F(WizardTest, TheChosenJpegQualityGivesImageMagicksFidelity) {
    // A photo-like picture: smooth areas and fine detail.
    MakePicture(At(L"photo.png"), "-seed 5 -size 480x360 plasma:fractal -blur 0x0.7 -depth 8");
    double sizes[2] = {};
    int i = 0;
    for (int quality : {50, 95}) {
        SCOPED_TRACE(quality);
        const HWND dialog = Open({At(L"photo.png")});
        ASSERT_NE(dialog, nullptr) << "no wizard dialog appeared";
        Choose(dialog, IDC_WIZARD_FORMAT, L"JPEG (.jpg)");
        Type(dialog, IDC_WIZARD_QUALITY, std::to_wstring(quality));
        Click(dialog, IDOK);
        const ProcessResult run = Finish();
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const std::wstring ours = At(L"q" + std::to_wstring(quality) + L".jpg");
        ASSERT_TRUE(MoveFileW(At(L"photo.jpg").c_str(), ours.c_str()));
        sizes[i++] = static_cast<double>(Bytes(ours).size());
        // ImageMagick at the same quality with the same 4:2:0 subsampling
        // (its own default above 90 is none).
        const std::wstring theirs = At(L"im" + std::to_wstring(quality) + L".jpg");
        MakePicture(theirs, Unix(At(L"photo.png")) + " -sampling-factor 2x2 -quality " + std::to_string(quality));
        const double psnr = Compare(At(L"photo.png"), ours, "PSNR");
        EXPECT_NEAR(psnr, Compare(At(L"photo.png"), theirs, "PSNR"), 1.0);
        EXPECT_GT(psnr, quality == 50 ? 25.0 : 35.0);
    }
    EXPECT_GT(sizes[1], 1.5 * sizes[0]) << "quality 95 is not larger than 50";
}

}  // namespace
