#include "capture/activation_handler.h"

#include <gtest/gtest.h>

#include "platform/audio_ids.h"
#include "run_harness.h"

namespace {

class Handler : public RunTest {};

// The platform calls the handler on a thread of its own; it finds it through
// the agile face as well as the primary one, with one count for both.
TEST_F(Handler, AnswersForItsInterfacesWithOneCount) {
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
    EXPECT_EQ(agile->AddRef(), 3u);
    EXPECT_EQ(handler->Release(), 2u);
    void* again = nullptr;
    ASSERT_EQ(agile->QueryInterface(ids::kIActivateAudioInterfaceCompletionHandler, &again), S_OK);
    EXPECT_EQ(again, primary);
    EXPECT_EQ(agile->Release(), 2u);
    EXPECT_EQ(agile->Release(), 1u);
    EXPECT_EQ(fakeplatform::controls().openEvents, 1);
    handler.reset();
    EXPECT_EQ(fakeplatform::controls().openEvents, 0);  // the last release freed it
}

}  // namespace
