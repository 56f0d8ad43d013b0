#include <gtest/gtest.h>

#include "media/components/ff_base_component.h"

namespace lumivor {
namespace {

TEST(BaseComponent, PublishesItsVersionAndTimeouts) {
  TFFBaseComponent component;
  EXPECT_EQ(component.Version(), "5.2");
  EXPECT_EQ(component.About, "");
  // The tests do not run under a debugger (a traced run would expect 0 here).
  ASSERT_FALSE(DebuggerPresent());
  EXPECT_EQ(component.ReadTimeout, 30000);
  EXPECT_EQ(component.WriteTimeout, 30000);
}

}  // namespace
}  // namespace lumivor
