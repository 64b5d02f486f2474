// The device tree's walk toward the devices a query can match, on fixture
// trees whose identifiers begin with one another's.
#include <gtest/gtest.h>

#include "platform/devtree.h"
#include "tests/support/fixtures.h"
#include "tests/support/machine_fixture.h"

namespace {

using testing_support::FixtureMachine;

// What the walk must equal: every present device, filtered.
std::vector<std::string> FilteredFullWalk(const platform::DeviceTree& tree,
                                          const platform::DeviceQuery& query) {
  std::vector<std::string> ids;
  for (const std::string& id : tree.PresentDevices()) {
    bool match = false;
    for (const std::string& text : query.prefixOf) {
      match = match || (!text.empty() && platform::BeginsWithDeviceId(text, id));
    }
    for (const std::string& head : query.startingWith) {
      match = match || (!head.empty() && platform::BeginsWithDeviceId(id, head));
    }
    if (match) ids.push_back(id);
  }
  return ids;
}

TEST(DeviceTreeTest, BeginsWithDeviceIdStopsAtAChildsPath) {
  const struct {
    const char* text;
    const char* id;
    bool begins;
  } cases[] = {
      {"virtual/block/loop1", "virtual/block/loop1", true},
      {"virtual/block/loop10", "virtual/block/loop1", true},  // a string prefix, not a parent
      {"virtual/block/loop1/loop1p1", "virtual/block/loop1", false},
      {"virtual/block/loop1", "virtual/block/loop10", false},
      {"VIRTUAL/Block/LOOP1", "virtual/block/loop1", true},
      {"virtual/block/loop2", "virtual/block/loop1", false},
      {"", "virtual", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::BeginsWithDeviceId(c.text, c.id), c.begins) << c.text << " / " << c.id;
  }
}

TEST(DeviceTreeTest, MatchingDevicesEqualTheFullWalkFiltered) {
  FixtureMachine machine;
  machine.AddLookAlikeDevices();
  const std::string image = machine.dir() / "Card.IMG";
  testing_support::ImageBuilder(4).WriteTo(image);
  platform::MachineSources sources = machine.sources();
  sources.attachedImages = {image};
  const platform::DeviceTree tree(sources);
  const std::string bus = FixtureMachine::kUsbBus;
  const struct {
    platform::DeviceQuery query;
    std::vector<std::string> expected;
  } cases[] = {
      {{{"virtual/block/loop10"}, {}}, {"virtual/block/loop1", "virtual/block/loop10"}},
      {{{"virtual/block/loop1"}, {}}, {"virtual/block/loop1"}},
      // loop1 begins the partition's text too; its parent loop10 does not.
      {{{"VIRTUAL/Block/LOOP10/loop10p1"}, {}},
       {"virtual/block/loop1", "virtual/block/loop10/loop10p1"}},
      {{{"lnxsystm:00/lnxpwrbn:00"}, {}}, {"LNXSYSTM:00/LNXPWRBN:00"}},
      {{{"pci0000:00/0000:00:99.0/block/sdz"}, {}}, {}},
      // The port, then its look-alike sibling and that one's child; not the
      // port's own child, nor the link 1-2.9.
      {{{}, {bus + "/1-2"}}, {bus + "/1-2", bus + "/1-2.1", bus + "/1-2.1/1-2.1:1.0"}},
      {{{}, {"PCI0000:00/0000:00:14.0/USB1/1-2.1"}}, {bus + "/1-2.1"}},
      {{{}, {bus + "/1-2/"}}, {bus + "/1-2/1-2:1.0"}},
      {{{}, {"lnxsystm:00"}}, {"LNXSYSTM:00"}},
      // Empty texts match nothing (an empty head would match everything).
      {{{""}, {""}}, {}},
      {{}, {}},
      // Tree order across both kinds; attached images last.
      {{{"image:" + image, "virtual/block/loop1"}, {bus + "/1-2.1"}},
       {bus + "/1-2.1", "virtual/block/loop1", "image:" + image}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> found = tree.MatchingDevices(c.query);
    const std::string label = (c.query.prefixOf.empty() ? "" : c.query.prefixOf[0]) + " | " +
                              (c.query.startingWith.empty() ? "" : c.query.startingWith[0]);
    EXPECT_EQ(found, c.expected) << label;
    EXPECT_EQ(found, FilteredFullWalk(tree, c.query)) << label;
  }
}

}  // namespace
