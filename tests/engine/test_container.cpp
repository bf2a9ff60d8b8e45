// Order of visits and changes made by entries while their container walks.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine.h"

using GameEngine::Drawable;
using GameEngine::GEContainer;
using GameEngine::Updatable;

namespace {

struct Probe : Drawable, Updatable {
    Probe(std::string name, std::vector<std::string> &log, bool result = false)
        : name(std::move(name)), log(log), result(result) {}
    void draw(BITMAP *) override { log.push_back(name); if (on_visit) on_visit(); }
    bool update() override { log.push_back(name); if (on_visit) on_visit(); return result; }

    std::string name;
    std::vector<std::string> &log;
    bool result;
    std::function<void()> on_visit;
};

using Log = std::vector<std::string>;

TEST(GEContainer, VisitsByPriorityThenOrderOfAddition)
{
    Log log;
    Probe a("A", log), b("B", log), c("C", log);
    GEContainer box;
    box.add_drawable(&a, 5);
    box.add_drawable(&b, 5);
    box.add_drawable(&c, 4);
    box.add_updatable(&b, -3);
    box.add_updatable(&a, 7);
    box.add_updatable(&c, 0);

    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"C", "A", "B"}));
    log.clear();
    box.update();
    EXPECT_EQ(log, (Log{"B", "C", "A"}));
}

TEST(GEContainer, PointerAddedTwiceIsVisitedTwiceAndRemovedAtOnce)
{
    Log log;
    Probe a("A", log), b("B", log);
    GEContainer box;
    box.add_drawable(&a, 1);
    box.add_drawable(&b, 2);
    box.add_drawable(&a, 3);
    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"A", "B", "A"}));

    log.clear();
    box.remove_drawable(&a);
    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"B"}));

    // Not held: nothing changes; the maps are independent.
    box.remove_drawable(&a);
    box.remove_updatable(&b);
    log.clear();
    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"B"}));
}

TEST(GEContainer, UpdateCombinesResultsWithoutCuttingTheWalkShort)
{
    Log log;
    GEContainer empty;
    EXPECT_FALSE(empty.update());

    Probe a("A", log, false), b("B", log, true), c("C", log, false);
    GEContainer box;
    box.add_updatable(&a, 1);
    box.add_updatable(&b, 2);
    box.add_updatable(&c, 3);
    EXPECT_TRUE(box.update());
    EXPECT_EQ(log, (Log{"A", "B", "C"}));

    box.remove_updatable(&b);
    EXPECT_FALSE(box.update());
}

TEST(GEContainer, NullIsNeverHeld)
{
    GEContainer box;
    box.add_drawable(nullptr, 1);
    box.add_updatable(nullptr, 1);
    box.draw(nullptr);
    EXPECT_FALSE(box.update());
}

TEST(GEContainer, EntriesAddedDuringAWalkAreVisitedWhenTheyLieBehind)
{
    Log log;
    Probe a("A", log), higher("H", log), same("S", log), lower("L", log);
    GEContainer box;
    box.add_updatable(&a, 5);
    a.on_visit = [&] {
        box.add_updatable(&higher, 9);
        box.add_updatable(&same, 5);
        box.add_updatable(&lower, 1);
        a.on_visit = nullptr;
    };
    box.update();
    EXPECT_EQ(log, (Log{"A", "S", "H"}));

    log.clear();
    box.update();
    EXPECT_EQ(log, (Log{"L", "A", "S", "H"}));
}

TEST(GEContainer, EntriesRemovedDuringAWalkAreSkipped)
{
    Log log;
    Probe a("A", log), b("B", log), c("C", log), d("D", log);
    GEContainer box;
    box.add_drawable(&a, 1);
    box.add_drawable(&b, 2);
    box.add_drawable(&c, 3);
    box.add_drawable(&d, 3);
    // B takes out the entry right behind it and one further on.
    b.on_visit = [&] { box.remove_drawable(&c); box.remove_drawable(&a); };
    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"A", "B", "D"}));

    // Removed and put back in the same walk (as the screen saver's
    // listener does with the menu): visited once, in its new place.
    log.clear();
    b.on_visit = [&] { box.remove_drawable(&d); box.add_drawable(&d, 3); };
    box.draw(nullptr);
    EXPECT_EQ(log, (Log{"B", "D"}));
}

TEST(GEContainer, AnEntryMayRemoveItselfAndTheWalkGoesOn)
{
    Log log;
    Probe a("A", log), b("B", log), c("C", log);
    GEContainer box;
    box.add_updatable(&a, 1);
    box.add_updatable(&b, 1);
    box.add_updatable(&c, 2);
    b.on_visit = [&] { box.remove_updatable(&b); };
    box.update();
    EXPECT_EQ(log, (Log{"A", "B", "C"}));
    log.clear();
    box.update();
    EXPECT_EQ(log, (Log{"A", "C"}));
}

TEST(GEContainer, AnEntryThatRemovesItselfStillGetsWhatItAddsVisitedAsUsual)
{
    // Taking itself out must not move the walk past entries the same call
    // adds behind it, nor onto entries it adds in front of it.
    Log log;
    Probe x("X", log), y("Y", log), same("S", log), between("B", log), lower("L", log);
    GEContainer box;
    box.add_updatable(&x, 5);
    box.add_updatable(&y, 9);
    x.on_visit = [&] {
        box.remove_updatable(&x);
        box.add_updatable(&same, 5);
        box.add_updatable(&between, 7);
        box.add_updatable(&lower, 1);
    };
    box.update();
    EXPECT_EQ(log, (Log{"X", "S", "B", "Y"}));
    log.clear();
    box.update();
    EXPECT_EQ(log, (Log{"L", "S", "B", "Y"}));
}

TEST(GEContainer, NestedContainersAndWalksOfTheSameContainer)
{
    Log log;
    Probe a("A", log), b("B", log), c("C", log);
    GEContainer outer, inner;
    inner.add_drawable(&a, 0);
    inner.add_drawable(&b, 1);
    outer.add_drawable(&inner, 0);
    outer.add_drawable(&c, 1);
    outer.draw(nullptr);
    EXPECT_EQ(log, (Log{"A", "B", "C"}));

    // A walk started from inside a walk of the same container, with a
    // removal in the inner walk: both walks stay on live entries.
    log.clear();
    bool nested = false;
    a.on_visit = [&] {
        if (!nested) {
            nested = true;
            inner.draw(nullptr);
        } else {
            inner.remove_drawable(&b);
        }
    };
    inner.draw(nullptr);
    EXPECT_EQ(log, (Log{"A", "A"}));
}

} // namespace
