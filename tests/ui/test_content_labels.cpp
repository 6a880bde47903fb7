// The content window's labels as both front ends find them by control id.
#include <gtest/gtest.h>

#include <utility>

#include "ui/ContentLabels.h"

TEST(ContentLabelsTest, EachLabelIdReachesItsOwnLabelAndNoOtherControlReachesOne) {
  ContentLabels labels;
  const struct {
    int id;
    CStaticEx ContentLabels::*label;
    const char* text;
  } kLabels[] = {
      {kIdStatusLabel, &ContentLabels::status, "正在下载："},
      {kIdProgressText, &ContentLabels::progressText, "42%"},
      {kIdMessageText, &ContentLabels::message, "更新已完成"},
  };
  for (const auto& c : kLabels) {
    SCOPED_TRACE(c.id);
    ASSERT_EQ(labels.Find(c.id), &(labels.*c.label));
    labels.Find(c.id)->SetWindowText(c.text);
  }
  // Each text landed in its own label and reads back through the same id.
  for (const auto& c : kLabels) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ((labels.*c.label).GetWindowText(), c.text);
    EXPECT_EQ(labels.Text(c.id), c.text);
  }
  for (int other : {int{kIdProgressBar}, int{kIdBrowser}, int{kIdMinimiseButton}, int{kIdCloseButton}, 0, -1}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(labels.Find(other), nullptr);
    EXPECT_EQ(std::as_const(labels).Find(other), nullptr);
    EXPECT_EQ(labels.Text(other), "");
  }
}
