// A failed construction in IClassFactory::CreateInstance: the "DAX-Fehler"
// message box, its closing period, E_UNEXPECTED and unchanged counts.
#include <gtest/gtest.h>

#include <new>

#include "ComTestSupport.h"
#include "comserver/ComServ.h"
#include "comserver/Exceptions.h"

namespace {

constexpr UINT kConstructionBoxStyle = MB_OK | MB_ICONSTOP | MB_SETFOREGROUND;
static_assert(kConstructionBoxStyle == 0x10010, "");

// Real module, real allocation failure: operator new in the DLL gets null
// from malloc once.
TEST(ConstructionFailure, OutOfMemoryInTheModule) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    MessageBoxRecorder boxes(dll.Module());
    FailingMalloc malloc(dll.Module());
    ASSERT_TRUE(boxes.Applied());
    ASSERT_TRUE(malloc.Applied()) << "the module no longer allocates through msvcrt's malloc";

    Ref<IClassFactory> factory;
    ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);

    malloc.Arm();
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, &out), E_UNEXPECTED);
    EXPECT_TRUE(malloc.Fired());
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes.Boxes()[0].caption, "DAX-Fehler");
    EXPECT_EQ(boxes.Boxes()[0].text, "Zu wenig Arbeitsspeicher.");
    EXPECT_EQ(boxes.Boxes()[0].type, kConstructionBoxStyle);

    // Aggregated: the outer object is not touched on the failure path either.
    TestOuter outer;
    malloc.Arm();
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(outer.addRefs + outer.releases + outer.queries, 0);
    EXPECT_EQ(boxes.Boxes().size(), 2u);

    EXPECT_EQ(CountOf(factory.Get()), 1u);
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "the failed construction left an object count behind";

    // The failure was one allocation's: the next request succeeds.
    Ref<IContextMenu> menu;
    EXPECT_EQ(dll.CreateExtension(IID_IContextMenu, menu.OutVoid()), S_OK);
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

// The frame's own failure path, with construction errors of every kind; the
// frame here is the test program's own copy, its message box patched in the
// test program's import table.
class FailingFactory : public TComObjectFactory {
public:
    explicit FailingFactory(TComServerObject* server)
        : TComObjectFactory(server, nullptr, kSomeOtherClsid, "", "Test", ciMultiInstance, tmApartment) {}
    TComObject* CreateObject(IUnknown*) override { throwIt(); return nullptr; }
    void (*throwIt)() = nullptr;
};

class ConstructionMessage : public ::testing::Test {
protected:
    void SetUp() override {
        factory = new FailingFactory(&server);  // owned by `server`
        ASSERT_TRUE(boxes.Applied());
    }
    void TearDown() override { EXPECT_EQ(server.ObjectCount(), 0); }

    // The text shown for a construction that failed with Exception(message).
    std::string ShownFor(const char* message) {
        static std::string pending;
        pending = message;
        factory->throwIt = [] { throw Exception(pending); };
        return Shown();
    }
    std::string Shown() {
        const size_t before = boxes.Boxes().size();
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), E_UNEXPECTED);
        EXPECT_EQ(out, nullptr);
        if (boxes.Boxes().size() != before + 1) return "<no box>";
        EXPECT_EQ(boxes.Boxes().back().caption, "DAX-Fehler");
        EXPECT_EQ(boxes.Boxes().back().type, kConstructionBoxStyle);
        return boxes.Boxes().back().text;
    }

    TComServer server;
    FailingFactory* factory = nullptr;
    MessageBoxRecorder boxes{GetModuleHandleA(nullptr)};
};

TEST_F(ConstructionMessage, PeriodAfterCharactersAboveThePeriod) {
    EXPECT_EQ(ShownFor("Fehler"), "Fehler.");
    EXPECT_EQ(ShownFor("Wert 7"), "Wert 7.");
    EXPECT_EQ(ShownFor("Pfad:"), "Pfad:.");
    EXPECT_EQ(ShownFor("Warum?"), "Warum?.");
    EXPECT_EQ(ShownFor("a/"), "a/.");
    EXPECT_EQ(ShownFor("Gr\xF6\xDF" "e"), "Gr\xF6\xDF" "e.");
    EXPECT_EQ(ShownFor("gro\xDF"), "gro\xDF.") << "bytes above 0x7F count as above the period";
}

TEST_F(ConstructionMessage, NoPeriodAfterThePeriodAndBelow) {
    EXPECT_EQ(ShownFor("Fehler."), "Fehler.");
    EXPECT_EQ(ShownFor("Fehler!"), "Fehler!");
    EXPECT_EQ(ShownFor("(Fehler)"), "(Fehler)");
    EXPECT_EQ(ShownFor("Fehler "), "Fehler ");
    EXPECT_EQ(ShownFor("Wert -"), "Wert -");
    EXPECT_EQ(ShownFor(""), "");
}

TEST_F(ConstructionMessage, ErrorsWithoutAMessageOfOurOwn) {
    factory->throwIt = [] { throw std::bad_alloc(); };
    EXPECT_EQ(Shown(), "Zu wenig Arbeitsspeicher.");
    factory->throwIt = [] { throw 42; };
    EXPECT_EQ(Shown(), "");
}

}  // namespace
