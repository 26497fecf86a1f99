// Requests that end by the time-out (10 s each): no answer, an answer that comes too late, and
// answers the dispatcher takes but that carry no known Result word.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "sdk_request_fixture.h"

using namespace sdktest;

namespace {

class SlowRequests : public RequestLab {
protected:
    std::pair<int, uint32_t> Unlock(int n) {
        std::string sn = SimSerial(n);
        ZEVA_DEVICE_TYPE_UNLOCK_CODE out{};
        return Run([&] { return zeva.ZEVA_GetDeviceConfig(&sn[0], 3, nullptr, 0, &out, sizeof out); });
    }
};

TEST_F(SlowRequests, NoAnswerTimesOut) {
    StartDevsim("--no-answer deviceTypeUnlockCode");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(std::make_pair(0, 2011u), Unlock(0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
}

TEST_F(SlowRequests, LateAnswerIsNotTakenForTheNextRequest) {
    StartDevsim("--answer-delay 11", 0, 1);
    StartDevsim("--answer-delay 2", 1, 1);
    EXPECT_EQ(std::make_pair(0, 2011u), Unlock(0));
    // Device 0's late answer arrives while this one waits.
    EXPECT_EQ(std::make_pair(1, 0u), Unlock(1));
}

TEST_F(SlowRequests, AnswersWithoutAKnownResultEndInTimeOut) {
    StartDevsim("--hostile no-result", 0, 1);
    StartDevsim("--hostile odd-result", 1, 1);
    EXPECT_EQ(std::make_pair(0, 2011u), Unlock(0));
    EXPECT_EQ(std::make_pair(0, 2011u), Unlock(1));
}

}  // namespace
