#include "preview_model/place_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tessmar {
namespace {

int Utf8Characters(const char* text) {
  int n = 0;
  for (const char* p = text; *p; ++p) n += (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
  return n;
}

const Place* Find(const char* name) {
  for (int i = 0; i < kPlaceCount; ++i) {
    if (std::string(kPlaceList[i].name) == name) return &kPlaceList[i];
  }
  return nullptr;
}

TEST(PlaceList, FullTableEndsWithZeroEntryAndHoldsSaneEntries) {
  EXPECT_EQ(PlaceListLength(), kPlaceCount);
  EXPECT_EQ(kPlaceList[kPlaceCount].latitude, 0.0f);
  EXPECT_EQ(kPlaceList[kPlaceCount].longitude, 0.0f);
  for (int i = 0; i < kPlaceCount; ++i) {
    const Place& p = kPlaceList[i];
    EXPECT_LE(Utf8Characters(p.name), 22) << p.name;
    EXPECT_GT(Utf8Characters(p.name), 0) << i;
    EXPECT_LE(std::fabs(p.latitude), 90.0f) << p.name;
    EXPECT_LE(std::fabs(p.longitude), 180.0f) << p.name;
    EXPECT_GE(p.class_number, 1);
    EXPECT_LE(p.class_number, 4);
  }
  const Place* berlin = Find("Berlin");
  ASSERT_NE(berlin, nullptr);
  EXPECT_NEAR(berlin->latitude, 52.5, 0.1);
  EXPECT_NEAR(berlin->longitude, 13.4, 0.1);
  EXPECT_EQ(berlin->class_number, 1);
  const Place* tokyo = Find("Tokyo");
  ASSERT_NE(tokyo, nullptr);
  EXPECT_NEAR(tokyo->longitude, 139.7, 0.1);
}

TEST(PlaceList, APlaceAtZeroNorthZeroEastEndsTheList) {
  const Place list[] = {
      {50.78f, 6.0f, "Aachen", 3}, {0.0f, 0.0f, "Null Island", 4}, {35.67f, 139.7f, "Tokyo", 1}};
  EXPECT_EQ(PlaceListLength(list), 1);
}

}  // namespace
}  // namespace tessmar
