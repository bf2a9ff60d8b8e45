// Timers counted in update cycles: conversion, expiry, reload and rescaling.
#include <memory>

#include <gtest/gtest.h>

#include "engine/timer.h"

using GameEngine::Timer;
using GameEngine::Timer_Manager;

namespace {

// Cycles until the timer reports expired, at most limit.
int cycles_to_expiry(Timer_Manager &manager, Timer &t, int limit = 100000)
{
    int n = 0;
    while (!t.expired() && n < limit) {
        manager.update();
        ++n;
    }
    return n;
}

struct Timers : ::testing::Test {
    Timers() { manager.adjust_frequency(60); }
    int cycles_to_expiry(Timer &t) { return ::cycles_to_expiry(manager, t); }

    Timer_Manager manager;
};

TEST_F(Timers, OneShotExpiresAfterConvertedCyclesForExactlyOneCycle)
{
    std::unique_ptr<Timer> t(manager.create_timer());
    EXPECT_TRUE(t->stopped());
    EXPECT_FALSE(t->expired());

    t->set(1000);
    EXPECT_FALSE(t->stopped());
    EXPECT_EQ(cycles_to_expiry(*t), 60);
    EXPECT_TRUE(t->expired());
    manager.update();
    EXPECT_FALSE(t->expired());
    EXPECT_TRUE(t->stopped());
    // Stopped timers stay stopped.
    for (int i = 0; i < 100; ++i) {
        manager.update();
    }
    EXPECT_TRUE(t->stopped());

    t->set(250);
    EXPECT_EQ(cycles_to_expiry(*t), 15);
    t->set(20);
    EXPECT_EQ(cycles_to_expiry(*t), 1);
}

TEST_F(Timers, DelaysShorterThanACycleExpireAtOnce)
{
    std::unique_ptr<Timer> one_shot(manager.create_timer());
    std::unique_ptr<Timer> periodic(manager.create_timer());
    one_shot->set(10);
    periodic->set_interval(16);
    EXPECT_TRUE(one_shot->expired());
    EXPECT_TRUE(periodic->expired());
    manager.update();
    EXPECT_TRUE(one_shot->stopped());
    // Interval 0: stops like a one-shot timer.
    EXPECT_TRUE(periodic->stopped());
    EXPECT_FALSE(periodic->expired());
}

TEST_F(Timers, PeriodicTimerReloadsAndExpiresEveryInterval)
{
    std::unique_ptr<Timer> t(manager.create_timer());
    t->set_interval(3000);
    int expiries = 0;
    for (int cycle = 1; cycle <= 600; ++cycle) {
        manager.update();
        bool due = cycle % 180 == 0;
        EXPECT_EQ(t->expired(), due) << "cycle " << cycle;
        expiries += t->expired() ? 1 : 0;
    }
    EXPECT_EQ(expiries, 3);
    EXPECT_FALSE(t->stopped());
}

TEST_F(Timers, DisableStopsAtOnceAndSetRestartsFromAnyState)
{
    std::unique_ptr<Timer> t(manager.create_timer());
    t->set_interval(100);
    manager.update();
    t->disable();
    EXPECT_TRUE(t->stopped());
    EXPECT_FALSE(t->expired());
    manager.update();
    EXPECT_TRUE(t->stopped());

    t->set(1000);
    for (int i = 0; i < 30; ++i) {
        manager.update();
    }
    t->set(100);  // restarted halfway: counts 6 cycles from here
    EXPECT_EQ(cycles_to_expiry(*t), 6);
}

TEST_F(Timers, DeletedTimersLeaveTheManager)
{
    // Deleting in any order must leave the manager's walk on live timers
    // (sanitizer builds catch a stale entry).
    Timer *a = manager.create_timer();
    Timer *b = manager.create_timer();
    Timer *c = manager.create_timer();
    a->set_interval(100);
    b->set_interval(100);
    c->set_interval(100);
    delete b;
    manager.update();
    delete a;
    manager.update();
    EXPECT_FALSE(c->expired());
    delete c;
    manager.update();
}

TEST(TimerFrequency, TimersMadeBeforeTheRateIsSetCountOneCyclePerSecond)
{
    Timer_Manager manager;
    std::unique_ptr<Timer> t(manager.create_timer());
    t->set(1000);
    EXPECT_FALSE(t->expired());
    manager.update();
    EXPECT_TRUE(t->expired());
    t->set(999);
    EXPECT_TRUE(t->expired());
}

TEST(TimerFrequency, ChangingTheRateRescalesRunningTimersToTheNearestCycle)
{
    Timer_Manager manager;
    manager.adjust_frequency(60);
    std::unique_ptr<Timer> one_shot(manager.create_timer());
    std::unique_ptr<Timer> idle(manager.create_timer());
    one_shot->set(1000);  // 60 cycles = 1000 ms

    manager.adjust_frequency(100);
    int n = cycles_to_expiry(manager, *one_shot);
    EXPECT_EQ(n, 100);

    // A stopped timer keeps nothing to rescale but takes the new rate.
    idle->set(1000);
    n = cycles_to_expiry(manager, *idle);
    EXPECT_EQ(n, 100);
}

TEST(TimerFrequency, RescalingRoundsToTheNearestCycle)
{
    Timer_Manager manager;
    manager.adjust_frequency(60);
    std::unique_ptr<Timer> up(manager.create_timer());
    std::unique_ptr<Timer> down(manager.create_timer());
    up->set(250);    // 15 cycles = 250 ms
    down->set(200);  // 12 cycles = 200 ms
    // At 7 Hz: 250 ms is 1.75 cycles (rounds to 2), 200 ms is 1.4 (rounds to 1).
    manager.adjust_frequency(7);
    manager.update();
    EXPECT_FALSE(up->expired());
    EXPECT_TRUE(down->expired());
    manager.update();
    EXPECT_TRUE(up->expired());
}

TEST(TimerFrequency, PeriodicTimerRescaledMidwayKeepsItsNewInterval)
{
    Timer_Manager manager;
    manager.adjust_frequency(60);
    std::unique_ptr<Timer> t(manager.create_timer());
    t->set_interval(1000);
    for (int i = 0; i < 30; ++i) {
        manager.update();  // 30 of 60 cycles gone: 500 ms left
    }
    manager.adjust_frequency(120);
    int n = cycles_to_expiry(manager, *t);
    EXPECT_EQ(n, 60);
    n = 0;
    do {
        manager.update();
        ++n;
    } while (!t->expired() && n < 1000);
    EXPECT_EQ(n, 120);
}

} // namespace
