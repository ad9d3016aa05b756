#include "sys_core.h"

#include <gtest/gtest.h>

#include "cpu_6502.h"
#include "mem.h"
#include "sys_cfg.h"
#include "test_util.h"
#include "vdc.h"
#include "via_6522.h"

namespace {

struct EventQueue : ::testing::Test {
    void SetUp() override { sys_queue_reset(); }
};

TEST_F(EventQueue, EmptyQueueYieldsNoEventAndResultTwo) {
    event ev{99, 99};
    EXPECT_EQ(2, pull_event(&ev));
    EXPECT_EQ(0, ev.code);
    EXPECT_EQ(0u, ev.value);
    EXPECT_EQ(2, pull_event(&ev)); // still empty: indices unchanged
}

TEST_F(EventQueue, EventsComeOutInOrderAcrossTheWrap) {
    event ev;
    // Move both indices near the end of the ring first.
    for (int i = 0; i < 120; i++) {
        push_event({EV_KEY_DOWN, 0});
        pull_event(&ev);
    }
    for (int i = 0; i < 20; i++)
        ASSERT_EQ(0, push_event({EV_KEY_DOWN, uint64_t(1000 + i)}));
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(0, pull_event(&ev));
        EXPECT_EQ(EV_KEY_DOWN, ev.code);
        EXPECT_EQ(uint64_t(1000 + i), ev.value);
    }
    EXPECT_EQ(2, pull_event(&ev));
}

TEST_F(EventQueue, FullRingDropsTheNewEventAndKeepsThePendingOnes) {
    for (int i = 0; i < 127; i++)
        ASSERT_EQ(0, push_event({EV_KEY_UP, uint64_t(i)}));
    EXPECT_EQ(1, push_event({EV_KEY_UP, 999}));
    event ev;
    for (int i = 0; i < 127; i++) {
        ASSERT_EQ(0, pull_event(&ev));
        EXPECT_EQ(uint64_t(i), ev.value);
    }
    EXPECT_EQ(2, pull_event(&ev));
    EXPECT_EQ(0, push_event({EV_KEY_UP, 5})); // room again once drained
}

struct Settings : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        sys_cfg_defaults();
        sys_queue_reset();
        mem_init();
        vdc_init();
        via_6522_init();
        cpu_6502_init();
    }
    void TearDown() override { sys_cfg_defaults(); }

    // Pushes one event and runs steps until the queue has been drained.
    void apply(int32_t code) {
        push_event({code, 0});
        int cycles = 0;
        sys_systemloop(&cycles);
        event ev;
        ASSERT_EQ(2, pull_event(&ev));
    }

    // One event from a starting value, and the value it must leave.
    struct step {
        int from;
        int32_t code;
        int to;
    };
    void apply_steps(std::atomic<int> &setting, std::initializer_list<step> steps) {
        for (const step &s : steps) {
            setting = s.from;
            apply(s.code);
            EXPECT_EQ(s.to, setting) << "from " << s.from << ", event " << s.code;
        }
    }
};

TEST_F(Settings, RefreshHasAFloorOfTwentyOnly) {
    config[CFG_REFRESH].value = 5;
    config[CFG_ZOOM].value = 7;
    sys_apply_config();
    EXPECT_EQ(20, refresh);
    EXPECT_EQ(7, zoom); // taken as it stands
    config[CFG_REFRESH].value = 50;
    sys_apply_config();
    EXPECT_EQ(50, refresh);
}

TEST_F(Settings, SpeedEventsDoubleAndHalveWithinOneToFour) {
    apply_steps(speed, {
                           {4, EV_SPEED_UP, 4},
                           {1, EV_SPEED_DOWN, 1},
                           {3, EV_SPEED_UP, 4},
                           {3, EV_SPEED_DOWN, 1},
                           {0, EV_SPEED_UP, 0},
                           {0, EV_SPEED_DOWN, 1},
                       });
    speed = 1;
}

TEST_F(Settings, ZoomEventsStayWithinZeroToTwo) {
    apply_steps(zoom, {
                          {2, EV_ZOOM_IN, 2},
                          {0, EV_ZOOM_OUT, 0},
                          {0, EV_ZOOM_IN, 1},
                      });
}

} // namespace
