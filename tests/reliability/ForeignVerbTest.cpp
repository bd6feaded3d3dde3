// Verb strings the shell or another program may send, in the ANSI record and
// in the Unicode one: none is ours, so each fails before anything is read,
// written or started.
#include "Reliability.h"

#include <shellapi.h>

namespace {

std::vector<std::string> ForeignVerbs() {
    std::vector<std::string> verbs = {"runas", "open", "properties", "delete", "explore", "find", "print",
                                      "printto", "edit", "openas", "copy", "cut", "paste", "link", "rename",
                                      "pintohome", "", " ", "0", "1", "2", "25", "TOJPG", "RS_10",
                                      "Grafikformat \xE4ndern", "Vardel Quennel Wizard", "{5B1C9E47}",
                                      "\xFF\xFE", "runas\r\n", "OPEN", "Open"};
    for (const char* word : {"transform", "convert", "wizard", "resize", "xyzzy", "\x80\x81\x82"})
        verbs.push_back(word);
    verbs.push_back(std::string(70000, 'v'));  // longer than anything a buffer would hold
    return verbs;
}

std::wstring Widen(const std::string& s) {
    std::wstring w;
    for (unsigned char c : s) w += static_cast<wchar_t>(c);
    return w;
}

TEST(ForeignVerbs, AnsiAndUnicodeFormsAllFail) {
    ExtensionHost host("verbstr");
    ASSERT_TRUE(host.Ready());
    ASSERT_EQ(host.Select({"C:\\Bilder\\a.jpg", "C:\\Bilder\\b.png"}), S_OK);
    const std::vector<std::string> verbs = ForeignVerbs();
    size_t tried = 0, failed = 0;
    Meter meter;
    for (const std::string& verb : verbs) {
        const std::wstring wide = Widen(verb);
        // ANSI record.
        CMINVOKECOMMANDINFO ansi = {};
        ansi.cbSize = sizeof ansi;
        ansi.lpVerb = verb.c_str();
        ansi.nShow = SW_SHOWNORMAL;
        // Unicode record: both verb fields carry the string, as the shell fills them.
        CMINVOKECOMMANDINFOEX unicode = {};
        unicode.cbSize = sizeof unicode;
        unicode.fMask = CMIC_MASK_UNICODE;
        unicode.lpVerb = verb.c_str();
        unicode.lpVerbW = wide.c_str();
        unicode.nShow = SW_SHOWNORMAL;
        // The Unicode record with a size the extension must not rely on.
        CMINVOKECOMMANDINFOEX odd = unicode;
        odd.cbSize = 0;
        for (CMINVOKECOMMANDINFO* info :
             {&ansi, reinterpret_cast<CMINVOKECOMMANDINFO*>(&unicode), reinterpret_cast<CMINVOKECOMMANDINFO*>(&odd)}) {
            const HRESULT hr = host.Menu()->InvokeCommand(info);
            ++tried;
            EXPECT_EQ(hr, E_FAIL) << "verb \"" << verb.substr(0, 40) << "\"";
            if (hr == E_FAIL) ++failed;
        }
    }
    meter.Stop();
    EXPECT_EQ(Spy::calls.createFile, 0) << "a verb string wrote the list file";
    EXPECT_EQ(Spy::calls.shellExecute, 0) << "a verb string started the converter";
    EXPECT_EQ(Spy::calls.RegistryReads(), 0) << "a verb string read the settings";
    EXPECT_FALSE(FileExists(host.ListFile()));
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"foreign verb strings, ANSI and Unicode", tried,
               std::to_string(failed) + " E_FAIL; list file writes " + std::to_string(Spy::calls.createFile) +
                   ", starts " + std::to_string(Spy::calls.shellExecute) + ", settings reads " +
                   std::to_string(Spy::calls.RegistryReads()),
               meter.Text()});
}

}  // namespace
