// The factory list and the server's registration pass, on the test program's
// own copy of the frame: several servers and factories, which the module
// itself never has.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "ComTestSupport.h"
#include "comserver/ComServ.h"

namespace {

// {0E3C52A1-...-7082}: a second identifier for the list tests.
const CLSID kThirdClsid = {0x0E3C52A1, 0x7D46, 0x4B8E, {0xA1, 0xF2, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x82}};

// Records what a registration pass asks of it.
class RecordingFactory : public TComObjectFactory {
public:
    RecordingFactory(TComServer* server, REFCLSID clsid, TClassInstancing instancing, std::vector<int>* log, int id)
        : TComObjectFactory(server, nullptr, clsid, "", "Test", instancing, tmApartment),
          server_(server), log_(log), id_(id) {}
    void UpdateRegistration(bool doRegister) override {
        EXPECT_EQ(server_->StartRegistration(), doRegister) << "the direction of the pass is recorded first";
        log_->push_back(doRegister ? id_ : -id_);
        if (id_ == failingId) throw std::runtime_error("write failed");
    }
    static int failingId;

private:
    TComServer* server_;
    std::vector<int>* log_;
    int id_;
};
int RecordingFactory::failingId = 0;

class ClassManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ComServer, nullptr) << "the module's frame is up in this process";
        RecordingFactory::failingId = 0;
    }
    void TearDown() override {
        delete first;
        delete second;
        FreeComClassManager();
    }

    std::vector<int> log;
    TComServer* first = new TComServer();
    TComServer* second = new TComServer();
};

TEST_F(ClassManager, NewestFactoryFirst) {
    auto* a = new RecordingFactory(first, kSomeOtherClsid, ciMultiInstance, &log, 1);
    auto* b = new RecordingFactory(second, kThirdClsid, ciMultiInstance, &log, 2);
    auto* c = new RecordingFactory(first, kSomeOtherClsid, ciMultiInstance, &log, 3);
    TComClassManager* manager = ComClassManager(false);
    ASSERT_NE(manager, nullptr) << "made with the first factory";

    EXPECT_EQ(manager->FindFactory(kSomeOtherClsid), c);
    EXPECT_EQ(manager->FindFactory(kThirdClsid), b);
    EXPECT_EQ(manager->FindFactory(kExtensionClsid), nullptr);

    std::vector<TComObjectFactory*> visited;
    manager->VisitFactories(first, [&](TComObjectFactory* f) { visited.push_back(f); });
    EXPECT_EQ(visited, (std::vector<TComObjectFactory*>{c, a}));

    delete c;  // unlinks itself: the older one answers again
    EXPECT_EQ(manager->FindFactory(kSomeOtherClsid), a);

    // A server's destruction takes its factories, and only those, along.
    delete first;
    first = nullptr;
    EXPECT_EQ(manager->FindFactory(kSomeOtherClsid), nullptr);
    EXPECT_EQ(manager->FindFactory(kThirdClsid), b);
}

TEST_F(ClassManager, RegistrationPassSkipsInternalClasses) {
    new RecordingFactory(first, kSomeOtherClsid, ciMultiInstance, &log, 1);
    new RecordingFactory(first, kThirdClsid, ciInternal, &log, 2);
    new RecordingFactory(second, kThirdClsid, ciMultiInstance, &log, 3);
    new RecordingFactory(first, kThirdClsid, ciSingleInstance, &log, 4);
    first->UpdateRegistration(true);
    EXPECT_EQ(log, (std::vector<int>{4, 1}));
    EXPECT_TRUE(first->StartRegistration());
    log.clear();
    first->UpdateRegistration(false);
    EXPECT_EQ(log, (std::vector<int>{-4, -1}));
    EXPECT_FALSE(first->StartRegistration());
}

TEST_F(ClassManager, FailureEndsThePassAndReleasesTheLock) {
    new RecordingFactory(first, kSomeOtherClsid, ciMultiInstance, &log, 1);
    new RecordingFactory(first, kThirdClsid, ciMultiInstance, &log, 2);
    RecordingFactory::failingId = 2;
    EXPECT_THROW(first->UpdateRegistration(true), std::runtime_error);
    EXPECT_EQ(log, std::vector<int>{2});

    // The lock is free again, for readers on other threads and for writers.
    TComObjectFactory* found = nullptr;
    RunOnThread([&] { found = ComClassManager()->FindFactory(kSomeOtherClsid); });
    EXPECT_NE(found, nullptr);
    auto* late = new RecordingFactory(first, kExtensionClsid, ciMultiInstance, &log, 3);
    EXPECT_EQ(ComClassManager()->FindFactory(kExtensionClsid), late);
}

// A pass holds the exclusive lock from its first factory to its last: a
// lookup on another thread waits for its end.
TEST_F(ClassManager, LookupsWaitForARegistrationPass) {
    new RecordingFactory(first, kSomeOtherClsid, ciMultiInstance, &log, 1);
    HANDLE lookup = nullptr;
    volatile LONG lookupDone = 0;
    DWORD waitedWhileHeld = WAIT_FAILED;
    ComClassManager()->VisitFactories(first, [&](TComObjectFactory*) {
        lookup = StartThread([&] {
            ComClassManager()->FindFactory(kSomeOtherClsid);
            InterlockedExchange(&lookupDone, 1);
        });
        // The lookup may not get through while the walk goes on.
        waitedWhileHeld = WaitForSingleObject(lookup, 300);
    });
    std::vector<HANDLE> threads{lookup};
    JoinAll(threads);
    EXPECT_EQ(waitedWhileHeld, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(lookupDone, 1);
}

}  // namespace
