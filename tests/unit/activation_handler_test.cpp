#include "capture/activation_handler.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio_ids.h"
#include "fakes/audio/engine.h"
#include "platform/posix/control.h"

namespace {

class Handler : public ::testing::Test {
protected:
    void SetUp() override {
        engine::reset();
        standin::reset();
    }
    void TearDown() override {
        engine::reset();
        standin::reset();
    }

    // Starts an activation on the engine with `script`; the completion, if
    // any, arrives on the engine's thread.
    ComRef<IActivateAudioInterfaceAsyncOperation> activate(ActivationHandler* handler, const engine::Script& script) {
        engine::load(script);
        AUDIOCLIENT_ACTIVATION_PARAMS params{};
        params.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
        params.ProcessLoopbackParams.TargetProcessId = 42;
        PROPVARIANT property{};
        property.vt = VT_BLOB;
        property.blob.cbSize = sizeof params;
        property.blob.pBlobData = reinterpret_cast<BYTE*>(&params);
        ComRef<IActivateAudioInterfaceAsyncOperation> operation;
        EXPECT_EQ(ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, ids::kIAudioClient, &property, handler,
                                              operation.receive()),
                  S_OK);
        return operation;
    }

    static void awaitSignal(ActivationHandler* handler) {
        ASSERT_EQ(WaitForSingleObject(handler->completionEvent(), 5000), WAIT_OBJECT_0);
    }
};

TEST_F(Handler, StartsPendingWithItsEventUnsignalled) {
    ComRef<ActivationHandler> handler = ActivationHandler::create();
    ASSERT_NE(handler->completionEvent(), nullptr);
    EXPECT_EQ(handler->activationResult(), E_PENDING);
    EXPECT_EQ(handler->audioClient(), nullptr);
    EXPECT_EQ(WaitForSingleObject(handler->completionEvent(), 0), WAIT_TIMEOUT);
}

TEST_F(Handler, QueryInterface) {
    ComRef<ActivationHandler> handler = ActivationHandler::create();
    IActivateAudioInterfaceCompletionHandler* primary = handler.get();

    EXPECT_EQ(handler->QueryInterface(ids::kIUnknown, nullptr), E_POINTER);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(handler->QueryInterface(ids::kIAudioClient, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(handler->AddRef(), 2u);  // neither failure took a reference
    EXPECT_EQ(handler->Release(), 1u);

    for (const GUID& iid : {ids::kIUnknown, ids::kIActivateAudioInterfaceCompletionHandler}) {
        ASSERT_EQ(handler->QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, primary);
        EXPECT_EQ(handler->Release(), 1u);
    }

    ASSERT_EQ(handler->QueryInterface(ids::kIAgileObject, &out), S_OK);
    auto* agile = static_cast<IAgileObject*>(out);
    EXPECT_NE(static_cast<void*>(agile), static_cast<void*>(primary));
    // The agile face shares the one count and finds the whole object.
    EXPECT_EQ(agile->AddRef(), 3u);
    EXPECT_EQ(handler->Release(), 2u);
    void* again = nullptr;
    ASSERT_EQ(agile->QueryInterface(ids::kIActivateAudioInterfaceCompletionHandler, &again), S_OK);
    EXPECT_EQ(again, primary);
    EXPECT_EQ(agile->Release(), 2u);
    EXPECT_EQ(agile->Release(), 1u);
}

TEST_F(Handler, CompletionOutcomes) {
    struct Case {
        const char* label;
        engine::Script script;
        HRESULT result;
        bool client;
    };
    std::vector<Case> cases(4);
    cases[0] = {"success", engine::Script{}, S_OK, true};
    cases[1] = {"failure status", engine::Script{}, AUDCLNT_E_DEVICE_INVALIDATED, false};
    cases[1].script.activationStatus = AUDCLNT_E_DEVICE_INVALIDATED;
    cases[2] = {"not an audio client", engine::Script{}, S_OK, false};
    cases[2].script.activatesNonAudio = true;
    cases[3] = {"result call fails and reports nothing", engine::Script{}, S_OK, false};
    cases[3].script.fault(engine::Call::GetActivateResult) = {1, E_FAIL};

    for (Case& c : cases) {
        SCOPED_TRACE(c.label);
        c.script.end = engine::End::Idle;
        ComRef<ActivationHandler> handler = ActivationHandler::create();
        ComRef<IActivateAudioInterfaceAsyncOperation> operation = activate(handler.get(), c.script);
        awaitSignal(handler.get());
        EXPECT_EQ(handler->activationResult(), c.result);
        EXPECT_EQ(handler->audioClient() != nullptr, c.client);
        engine::awaitCompletion();
        handler.reset();
        operation.reset();
        EXPECT_EQ(engine::stats().liveObjects, 0u);
        EXPECT_EQ(standin::openEvents(), 0u);
        engine::reset();
    }
}

TEST_F(Handler, FreedByWhicheverSideReleasesLast) {
    // The platform lets go first: our release frees the handler.
    {
        ComRef<ActivationHandler> handler = ActivationHandler::create();
        ComRef<IActivateAudioInterfaceAsyncOperation> operation = activate(handler.get(), engine::Script{});
        engine::awaitCompletion();
        EXPECT_EQ(engine::stats().lastHandlerRelease, 1);
        EXPECT_EQ(standin::openEvents(), 1u);
        handler.reset();
        EXPECT_EQ(standin::openEvents(), 0u);
    }
    engine::reset();
    // We let go first, as after a time-out: the late completion still lands
    // in a live object, and the platform's release frees it.
    {
        engine::Script late;
        late.completion = engine::Completion::Late;
        late.completionDelayMs = 50;
        ComRef<ActivationHandler> handler = ActivationHandler::create();
        ComRef<IActivateAudioInterfaceAsyncOperation> operation = activate(handler.get(), late);
        handler.reset();
        EXPECT_EQ(standin::openEvents(), 1u);
        engine::awaitCompletion();
        EXPECT_EQ(engine::stats().lastHandlerRelease, 0);
        EXPECT_EQ(standin::openEvents(), 0u);
    }
}

TEST_F(Handler, ConcurrentReleasesFreeExactlyOnce) {
    for (int round = 0; round < 200; ++round) {
        ComRef<ActivationHandler> ours = ActivationHandler::create();
        ActivationHandler* shared = ours.get();
        shared->AddRef();
        std::thread other([shared] { shared->Release(); });
        ours.reset();
        other.join();
    }
    EXPECT_EQ(standin::openEvents(), 0u);
}

}  // namespace
