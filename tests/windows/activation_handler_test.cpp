// The activation handler as COM and the platform's completion thread use it.
#include <gtest/gtest.h>

#include "windows/activation_handler.h"
#include "windows/audio_ids.h"

namespace {

constexpr GUID kIMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// What activation hands out: answers for the audio client when `isClient`. The
// handler only holds and releases it, which IUnknown's slots serve.
struct Activated final : IUnknown {
    bool isClient = true;
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = isClient && ids::same(riid, ids::kIAudioClient) ? this : nullptr;
        if (*out == nullptr) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

struct Operation final : IActivateAudioInterfaceAsyncOperation {
    HRESULT call = S_OK, status = S_OK;
    Activated* activated = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* result, IUnknown** out) override {
        if (FAILED(call)) return call;
        *result = status;
        *out = activated;
        if (activated != nullptr) activated->AddRef();
        return S_OK;
    }
};

TEST(ActivationHandler, AnswersForItsInterfacesOnlyAndCounts) {
    ComRef<ActivationHandler> handler = ActivationHandler::create();
    for (const GUID* id : {&ids::kIUnknown, &ids::kIActivateAudioInterfaceCompletionHandler, &ids::kIAgileObject}) {
        void* out = nullptr;
        ASSERT_EQ(handler->QueryInterface(*id, &out), S_OK);
        EXPECT_NE(out, nullptr);
        EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);  // the reference the answer added
    }
    // Agile by IAgileObject, never by a marshaler it does not have.
    void* out = &out;
    EXPECT_EQ(handler->QueryInterface(kIMarshal, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(handler->QueryInterface(ids::kIUnknown, nullptr), E_POINTER);
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
}

struct Completion {
    const char* name;
    HRESULT call, status;
    bool activated, isClient;
    HRESULT result;  // as the caller then reads it
    bool client;
};
void PrintTo(const Completion& c, std::ostream* os) { *os << c.name; }

class Completes : public ::testing::TestWithParam<Completion> {};

// Every completion signals the event; only a reported success with an audio
// client leaves one, held by the handler until it goes.
TEST_P(Completes, SignalsAndKeepsOnlyAClient) {
    const Completion& c = GetParam();
    Activated activated;
    activated.isClient = c.isClient;
    Operation operation;
    operation.call = c.call;
    operation.status = c.status;
    operation.activated = c.activated ? &activated : nullptr;
    ComRef<ActivationHandler> handler = ActivationHandler::create();
    ASSERT_NE(handler->completionEvent(), nullptr);
    EXPECT_EQ(WaitForSingleObject(handler->completionEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(handler->activationResult(), E_PENDING);

    // The platform calls it on a thread of its own, holding a reference the caller may outlive.
    ActivationHandler* platform = handler.get();
    platform->AddRef();
    EXPECT_EQ(platform->ActivateCompleted(&operation), S_OK);
    EXPECT_EQ(WaitForSingleObject(handler->completionEvent(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(handler->activationResult(), c.result);
    EXPECT_EQ(handler->audioClient() != nullptr, c.client);
    EXPECT_EQ(activated.refs, c.client ? 2u : 1u);
    handler.reset();
    EXPECT_EQ(activated.refs, c.client ? 2u : 1u) << "let go of before the platform's reference went";
    // The last Release, the platform's, frees it and its hold on the client with it.
    EXPECT_EQ(platform->Release(), 0u);
    EXPECT_EQ(activated.refs, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    All, Completes,
    ::testing::Values(Completion{"Client", S_OK, S_OK, true, true, S_OK, true},
                      Completion{"StatusFails", S_OK, static_cast<HRESULT>(0x88890004), true, true,
                                 static_cast<HRESULT>(0x88890004), false},
                      // A failing call reports nothing: its own status is the activation's.
                      Completion{"ResultUnreadable", E_FAIL, S_OK, true, true, E_FAIL, false},
                      Completion{"NothingActivated", S_OK, S_OK, false, true, E_POINTER, false},
                      Completion{"NotAnAudioClient", S_OK, S_OK, true, false, E_NOINTERFACE, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
