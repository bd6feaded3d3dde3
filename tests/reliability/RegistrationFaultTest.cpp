// Registration passes cut short: RegSetValueExA or RegCreateKeyExA refusing
// at the Nth call, or an allocation failing at the Nth. Each cut pass answers
// E_FAIL; a second DllRegisterServer then writes exactly what a clean pass
// writes, and DllUnregisterServer cleans up as after a clean pass. The
// registry keys touched are saved first and put back at the end, since HKCR
// is shared with the other test programs of the prefix.
#include <map>

#include "Reliability.h"

namespace {

const char kClsidKey[] = "CLSID\\{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";
const char kShellExtensions[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";

struct Touched {
    HKEY root;
    const char* path;
};
const Touched kTouched[] = {{HKEY_CLASSES_ROOT, kClsidKey},
                            {HKEY_CLASSES_ROOT, "*\\shellex"},
                            {HKEY_CLASSES_ROOT, "Folder\\shellex"},
                            {HKEY_LOCAL_MACHINE, kShellExtensions},
                            {HKEY_LOCAL_MACHINE, "Approved"}};

std::string RegistryState() {
    std::string text;
    for (const Touched& t : kTouched) text += RegistrySnapshot::TextOf(t.root, t.path);
    return text;
}

class RegistrationFaults : public ::testing::Test {
protected:
    void SetUp() override {
        for (const Touched& t : kTouched) saved_.emplace_back(new RegistrySnapshot(t.root, t.path));
        ASSERT_TRUE(dll_.Loaded());
        patches_.reset(new Spy::Patches(dll_.Module(), true));
        ASSERT_TRUE(patches_->Applied());
        // The reference states: after a clean pass, and after a clean removal.
        ASSERT_EQ(dll_.RegisterServer(), S_OK);
        registered_ = RegistryState();
        ASSERT_EQ(dll_.UnregisterServer(), S_OK);
        unregistered_ = RegistryState();
        ASSERT_NE(registered_, unregistered_);
    }
    void TearDown() override {
        patches_.reset();
        for (const auto& s : saved_) s->Restore();
        for (size_t i = 0; i < saved_.size(); ++i)
            EXPECT_EQ(RegistrySnapshot::TextOf(kTouched[i].root, kTouched[i].path), saved_[i]->Text())
                << "registry key not put back: " << kTouched[i].path;
    }

    // Arms a fault with `arm`, runs one pass, and repairs: a second
    // registration must give the clean state, and unregistration the clean
    // removal. Returns false once a pass ran through without meeting the fault.
    bool CutPass(const std::function<void()>& arm, const std::function<long()>& reached, long n, bool doRegister,
                 std::map<HRESULT, int>& results) {
        arm();
        const HRESULT hr = doRegister ? dll_.RegisterServer() : dll_.UnregisterServer();
        const long seen = reached();
        Spy::Disarm();
        ++results[hr];
        if (seen < n) {
            EXPECT_EQ(hr, S_OK) << "a pass that met no fault failed";
            return false;
        }
        EXPECT_EQ(hr, E_FAIL) << "pass cut at call " << n;
        EXPECT_EQ(dll_.RegisterServer(), S_OK) << "repair after cut " << n;
        EXPECT_EQ(RegistryState(), registered_) << "repair after cut " << n << " differs from a clean pass";
        EXPECT_EQ(dll_.UnregisterServer(), S_OK);
        EXPECT_EQ(RegistryState(), unregistered_) << "removal after cut " << n << " differs";
        return true;
    }

    ExtensionDll dll_;
    std::unique_ptr<Spy::Patches> patches_;
    std::vector<std::unique_ptr<RegistrySnapshot>> saved_;
    std::string registered_, unregistered_;
};

std::string Tally(const std::map<HRESULT, int>& results) {
    std::string out;
    for (const auto& [hr, count] : results) {
        char text[48];
        std::snprintf(text, sizeof text, "%s%d x 0x%08lX", out.empty() ? "" : ", ", count,
                      static_cast<unsigned long>(hr));
        out += text;
    }
    return out;
}

TEST_F(RegistrationFaults, CutAtEveryRegistryWrite) {
    Meter meter;
    std::map<HRESULT, int> setResults, createResults;
    long setCuts = 0, createCuts = 0;
    for (long n = 1; n < 100; ++n) {
        if (!CutPass([n] { Spy::failRegSetAt = n; }, [] { return Spy::regSetSinceArm.load(); }, n, true, setResults))
            break;
        ++setCuts;
    }
    for (long n = 1; n < 100; ++n) {
        if (!CutPass([n] { Spy::failRegCreateAt = n; }, [] { return Spy::regCreateSinceArm.load(); }, n, true,
                     createResults))
            break;
        ++createCuts;
    }
    meter.Stop();
    // Entries 1 to 9 through WriteClassKey, entry 10 through the settings
    // reader's key class: ten values, eleven keys opened or created.
    EXPECT_EQ(setCuts, 10);
    EXPECT_EQ(createCuts, 11);
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles) << "registry keys left open by cut passes";
    AddFigure({"registration cut at the Nth RegSetValueExA", static_cast<uint64_t>(setCuts + 1),
               Tally(setResults) + "; each cut repaired by a second pass and cleaned by unregistration", ""});
    AddFigure({"registration cut at the Nth RegCreateKeyExA", static_cast<uint64_t>(createCuts + 1),
               Tally(createResults) + "; each cut repaired by a second pass and cleaned by unregistration",
               meter.Text()});
}

TEST_F(RegistrationFaults, AllocationFailsAtEveryPoint) {
    Meter meter;
    std::map<HRESULT, int> registerResults, unregisterResults;
    long registerCuts = 0, unregisterCuts = 0;
    for (long n = 1; n < 5000; ++n) {
        if (!CutPass([n] { Spy::failMallocAt = n; }, [] { return Spy::mallocSinceArm.load(); }, n, true,
                     registerResults))
            break;
        ++registerCuts;
    }
    ASSERT_EQ(dll_.RegisterServer(), S_OK);
    for (long n = 1; n < 5000; ++n) {
        Spy::failMallocAt = n;
        const HRESULT hr = dll_.UnregisterServer();
        const long seen = Spy::mallocSinceArm;
        Spy::Disarm();
        ++unregisterResults[hr];
        if (seen < n) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        EXPECT_EQ(hr, E_FAIL) << "unregistration cut at allocation " << n;
        // A second pass finishes the removal.
        EXPECT_EQ(dll_.UnregisterServer(), S_OK);
        EXPECT_EQ(RegistryState(), unregistered_) << "after cut " << n;
        ASSERT_EQ(dll_.RegisterServer(), S_OK);
        ++unregisterCuts;
    }
    meter.Stop();
    EXPECT_GT(registerCuts, 0);
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"registration with allocation N failing", static_cast<uint64_t>(registerCuts + 1),
               Tally(registerResults) + "; all repaired and cleaned", ""});
    AddFigure({"unregistration with allocation N failing", static_cast<uint64_t>(unregisterCuts + 1),
               Tally(unregisterResults) + "; a second pass always cleaned", meter.Text()});
}

}  // namespace
