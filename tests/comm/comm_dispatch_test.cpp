// The watcher and the dispatcher over a scripted device: event masks, error flags and queue
// counts are exactly what the test hands in.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "comm/comm_os.h"
#include "owner_loop.h"

namespace {

using Clock = std::chrono::steady_clock;

class ScriptedPort final : public comm::OsPort {
public:
    struct Turn {
        uint32_t events;
        uint32_t errors;
        uint32_t inQueue;
    };

    void script(Turn turn) {
        std::lock_guard guard(lock_);
        turns_.push_back(turn);
        changed_.notify_all();
    }
    void failEveryWait() {
        std::lock_guard guard(lock_);
        failing_ = true;
        changed_.notify_all();
    }
    // Blocks until the watcher has started n waits; their start times.
    std::vector<Clock::time_point> waitsStarted(size_t n) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(5), [&] { return waits_.size() >= n; });
        return waits_;
    }
    uint32_t maskSet() {
        std::lock_guard guard(lock_);
        return mask_;
    }

    intptr_t handle() const override { return 7; }
    bool isCharacterDevice() const override { return true; }
    void close() override {}
    int setupComm(uint32_t, uint32_t) override { return 0; }
    int getCommState(comm::Dcb&) override { return 0; }
    int setCommState(const comm::Dcb&) override { return 0; }
    int setReadsReturnAtOnce() override { return 0; }
    int setCommMask(uint32_t mask) override {
        std::lock_guard guard(lock_);
        mask_ = mask;
        return 0;
    }
    Wait waitCommEvent(uint32_t& events, int& error) override {
        std::unique_lock guard(lock_);
        waits_.push_back(Clock::now());
        changed_.notify_all();
        if (failing_) {
            error = 87;
            return Wait::kFailed;
        }
        changed_.wait(guard, [&] { return cancelled_ || !turns_.empty(); });
        if (cancelled_) return Wait::kCancelled;
        current_ = turns_.front();
        turns_.pop_front();
        events = current_.events;
        return Wait::kEvent;
    }
    void cancelWait() override {
        std::lock_guard guard(lock_);
        cancelled_ = true;
        changed_.notify_all();
    }
    int clearCommError(uint32_t& errors, ComStat& stat) override {
        std::lock_guard guard(lock_);
        errors = current_.errors;
        stat.cbInQue = current_.inQueue;
        return 0;
    }
    int purgeComm(uint32_t) override { return 0; }
    Transfer read(uint8_t*, int32_t, int32_t) override { return {}; }
    Transfer write(const uint8_t*, int32_t count, int32_t) override {
        return Transfer{Transfer::kDone, count, 0};
    }
    int escapeCommFunction(uint32_t) override { return 0; }
    int getCommModemStatus(uint32_t&) override { return 0; }
    int getProviderSubType(int32_t& type) override {
        type = 3;
        return 0;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Turn> turns_;
    Turn current_{};
    std::vector<Clock::time_point> waits_;
    uint32_t mask_ = 0;
    bool cancelled_ = false;
    bool failing_ = false;
};

// A descendant that opens the scripted device, as CreateHandle allows.
class ScriptedComm : public comm::TComm {
public:
    ScriptedComm(comm::RunOnOwner owner, std::shared_ptr<ScriptedPort> port)
        : TComm(std::move(owner)), port_(std::move(port)) {}
    ~ScriptedComm() override { Close(); }

protected:
    void CreateHandle() override { AttachHandle(port_); }

private:
    std::shared_ptr<ScriptedPort> port_;
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        auto record = [this](const std::string& name) {
            return [this, name](comm::TCustomComm* sender) {
                EXPECT_EQ(sender, &comm);
                fired.push_back(name);
            };
        };
        comm.OnBreak = record("break");
        comm.OnCts = record("cts");
        comm.OnDsr = record("dsr");
        comm.OnRing = record("ring");
        comm.OnRlsd = record("rlsd");
        comm.OnRxFlag = record("rxflag");
        comm.OnTxEmpty = record("txempty");
        comm.OnError = [this](comm::TCustomComm* sender, int32_t errors) {
            EXPECT_EQ(sender, &comm);
            fired.push_back("error " + std::to_string(errors));
        };
        comm.OnRxChar = [this](comm::TCustomComm* sender, int32_t count) {
            EXPECT_EQ(sender, &comm);
            fired.push_back("rxchar " + std::to_string(count));
        };
    }
    // Hands one completed wait to the watcher and runs its handover.
    std::vector<std::string> deliver(ScriptedPort::Turn turn) {
        fired.clear();
        port->script(turn);
        loop.pumpUntil([&] { return port->waitsStarted(0).size() >= waitsBefore + 2; });
        waitsBefore = port->waitsStarted(0).size() - 1;
        return fired;
    }

    commtest::OwnerLoop loop;
    std::shared_ptr<ScriptedPort> port = std::make_shared<ScriptedPort>();
    ScriptedComm comm{loop.runOnOwner(), port};
    std::vector<std::string> fired;
    size_t waitsBefore = 0;
};

TEST_F(Dispatch, AllNineEventsFireInEnumerationOrderInOneHandover) {
    comm.Open();
    EXPECT_EQ(port->maskSet(), 0x01FFu);
    EXPECT_EQ(deliver({0x01FF, 0x0008, 3}),
              (std::vector<std::string>{"break", "cts", "dsr", "error 8", "ring", "rlsd",
                                        "rxchar 3", "rxflag", "txempty"}));
}

TEST_F(Dispatch, ErrorComesBeforeRingAndBeforeReceivedCharacters) {
    comm.Open();
    EXPECT_EQ(deliver({comm::EV_RING | comm::EV_ERR, comm::CE_FRAME, 0}),
              (std::vector<std::string>{"error 8", "ring"}));
    EXPECT_EQ(deliver({comm::EV_RXCHAR | comm::EV_ERR, comm::CE_OVERRUN, 5}),
              (std::vector<std::string>{"error 2", "rxchar 5"}));
}

TEST_F(Dispatch, RxCharWithAnEmptyQueueCallsNoHandler) {
    comm.Open();
    EXPECT_TRUE(deliver({comm::EV_RXCHAR, 0, 0}).empty());
}

TEST_F(Dispatch, EventWithoutAHandlerIsDroppedSilently) {
    comm.OnCts = nullptr;
    comm.Open();
    EXPECT_EQ(deliver({comm::EV_CTS | comm::EV_DSR, 0, 0}), (std::vector<std::string>{"dsr"}));
}

TEST_F(Dispatch, MonitorEventsChooseTheMaskTheWatcherSets) {
    comm.SetMonitorEvents({comm::evRxChar, comm::evError, comm::evTxEmpty});
    comm.Open();
    EXPECT_EQ(port->maskSet(), comm::EV_RXCHAR | comm::EV_ERR | comm::EV_TXEMPTY);
    EXPECT_EQ(comm.ProviderType(), 3);
}

TEST_F(Dispatch, WaitsThatFailAtOnceArePacedNotSpun) {
    port->failEveryWait();
    comm.Open();
    const std::vector<Clock::time_point> starts = port->waitsStarted(3);
    ASSERT_GE(starts.size(), 3u);
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_GE(starts[i] - starts[i - 1], std::chrono::milliseconds(40));
    const Clock::time_point before = Clock::now();
    comm.Close();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(40)) << "Stop cuts the pause short";
}

TEST_F(Dispatch, HandoverQueuedBeforeCloseDoesNothingWhenItRuns) {
    comm.Open();
    port->script({comm::EV_DSR, 0, 0});
    // Whether the watcher is still waiting or already blocked in its handover, nothing fires.
    comm.Close();
    loop.pumpUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_TRUE(fired.empty());
}

}  // namespace
