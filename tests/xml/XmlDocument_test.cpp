#include "tests/support/TestSupport.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace ml;

TEST(XmlDocument, FindsChildrenIgnoringCaseAndByAttribute) {
  TXmlDocument doc;
  ASSERT_TRUE(doc.LoadString(R"(<Root><PlayList Name="a" ID="1"/><playlist Name="b" ID="x"/><Other/></Root>)"));
  EXPECT_EQ(doc.Root().Children("PLAYLIST").size(), 2u);
  TXmlNode b = doc.Root().ChildByAttribute("playList", "name", "b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b.AttributeInt("ID", -1), -1) << "not a number: the default";
  EXPECT_EQ(doc.Root().Child("playlist").AttributeInt("id", -1), 1);
  EXPECT_FALSE(doc.Root().Child("Missing"));
  EXPECT_EQ(doc.Root().Child("Missing").Attribute("x", "dflt"), "dflt");
}

TEST(XmlDocument, ValuesAndDateTimes) {
  TXmlDocument doc;
  TXmlNode root = doc.Reset("History");
  TXmlNode item = root.AddChild("Item");
  item.AddChild("Name").SetValue("歌 & <曲>");
  item.AddChild("Size").SetValue(int64_t{5000000000});
  const XmlTime when = XmlTime(std::chrono::milliseconds(1700000000123));
  item.AddChild("Time").SetValueTime(when);
  TXmlDocument back;
  ASSERT_TRUE(back.LoadString(doc.ToString()));
  TXmlNode it = back.Root().Child("item");
  EXPECT_EQ(it.Child("name").Value(), "歌 & <曲>");
  EXPECT_EQ(it.Child("size").ValueInt(0), 5000000000);
  EXPECT_EQ(it.Child("time").Value(), "2023-11-14T22:13:20.123Z");
  EXPECT_EQ(it.Child("time").ValueTime(), when);
  EXPECT_FALSE(ParseXmlTime("2023-13-01T00:00:00.000Z").has_value());
  EXPECT_FALSE(ParseXmlTime("yesterday").has_value());
}

TEST(XmlDocument, DeleteAndSaveToFileAndStream) {
  mltest::TempDir dir;
  TXmlDocument doc;
  TXmlNode root = doc.Reset("R");
  root.AddChild("A");
  TXmlNode b = root.AddChild("B");
  b.Remove();
  EXPECT_FALSE(b);
  ASSERT_TRUE(doc.SaveFile(dir.File("d.xml")));
  TXmlDocument back;
  ASSERT_TRUE(back.LoadFile(dir.File("d.xml")));
  EXPECT_EQ(back.Root().Children().size(), 1u);
  std::ostringstream out;
  back.SaveStream(out);
  std::istringstream in(out.str());
  TXmlDocument third;
  EXPECT_TRUE(third.LoadStream(in));
  EXPECT_TRUE(third.Root().Child("a"));
}

TEST(XmlDocument, RefusesDtdsAndReportsDamage) {
  TXmlDocument doc;
  // Entities declared in a DTD are never expanded (no billion laughs, no external files): the
  // reference stays the literal text it was.
  std::string error;
  ASSERT_TRUE(doc.LoadString(R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "aaaa">]><r>&a;&a;</r>)", &error));
  EXPECT_EQ(doc.Root().Value(), "&a;&a;");
  ASSERT_TRUE(doc.LoadString(R"(<!DOCTYPE r SYSTEM "file:///etc/passwd"><r>&xxe;</r>)"));
  EXPECT_EQ(doc.Root().Value(), "&xxe;");
  EXPECT_FALSE(doc.LoadString("<r><a></r>", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(doc.Root()) << "a failed load leaves an empty document";
  EXPECT_FALSE(doc.LoadString("<r><a x=\"1\"/><b y=", nullptr, true));
  EXPECT_TRUE(doc.Root().Child("a")) << "keepPartial keeps what came before the fault";
  EXPECT_GT(doc.ErrorOffset(), 0);
  EXPECT_FALSE(doc.LoadFile("/nonexistent.xml"));
}
