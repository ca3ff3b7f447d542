#include "tests/support/TestSupport.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace ml;

TEST(XmlDocument, FindsChildrenIgnoringCaseAndByAttribute) {
  TXmlDocument doc;
  ASSERT_TRUE(doc.loadString(R"(<Root><PlayList Name="a" ID="1"/><playlist Name="b" ID="x"/><Other/></Root>)"));
  EXPECT_EQ(doc.root().children("PLAYLIST").size(), 2u);
  TXmlNode b = doc.root().childByAttribute("playList", "name", "b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b.attributeInt("ID", -1), -1) << "not a number: the default";
  EXPECT_EQ(doc.root().child("playlist").attributeInt("id", -1), 1);
  EXPECT_FALSE(doc.root().child("Missing"));
  EXPECT_EQ(doc.root().child("Missing").attribute("x", "dflt"), "dflt");
}

TEST(XmlDocument, ValuesAndDateTimes) {
  TXmlDocument doc;
  TXmlNode root = doc.reset("History");
  TXmlNode item = root.addChild("Item");
  item.addChild("Name").setValue("歌 & <曲>");
  item.addChild("Size").setValue(int64_t{5000000000});
  const XmlTime when = XmlTime(std::chrono::milliseconds(1700000000123));
  item.addChild("Time").setValueTime(when);
  TXmlDocument back;
  ASSERT_TRUE(back.loadString(doc.toString()));
  TXmlNode it = back.root().child("item");
  EXPECT_EQ(it.child("name").value(), "歌 & <曲>");
  EXPECT_EQ(it.child("size").valueInt(0), 5000000000);
  EXPECT_EQ(it.child("time").value(), "2023-11-14T22:13:20.123Z");
  EXPECT_EQ(it.child("time").valueTime(), when);
  EXPECT_FALSE(ParseXmlTime("2023-13-01T00:00:00.000Z").has_value());
  EXPECT_FALSE(ParseXmlTime("yesterday").has_value());
}

TEST(XmlDocument, DeleteAndSaveToFileAndStream) {
  mltest::TempDir dir;
  TXmlDocument doc;
  TXmlNode root = doc.reset("R");
  root.addChild("A");
  TXmlNode b = root.addChild("B");
  b.remove();
  EXPECT_FALSE(b);
  ASSERT_TRUE(doc.saveFile(dir.file("d.xml")));
  TXmlDocument back;
  ASSERT_TRUE(back.loadFile(dir.file("d.xml")));
  EXPECT_EQ(back.root().children().size(), 1u);
  std::ostringstream out;
  back.saveStream(out);
  std::istringstream in(out.str());
  TXmlDocument third;
  EXPECT_TRUE(third.loadStream(in));
  EXPECT_TRUE(third.root().child("a"));
}

TEST(XmlDocument, RefusesDtdsAndReportsDamage) {
  TXmlDocument doc;
  // Entities declared in a DTD are never expanded (no billion laughs, no external files): the
  // reference stays the literal text it was.
  std::string error;
  ASSERT_TRUE(doc.loadString(R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "aaaa">]><r>&a;&a;</r>)", &error));
  EXPECT_EQ(doc.root().value(), "&a;&a;");
  ASSERT_TRUE(doc.loadString(R"(<!DOCTYPE r SYSTEM "file:///etc/passwd"><r>&xxe;</r>)"));
  EXPECT_EQ(doc.root().value(), "&xxe;");
  EXPECT_FALSE(doc.loadString("<r><a></r>", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(doc.root()) << "a failed load leaves an empty document";
  EXPECT_FALSE(doc.loadString("<r><a x=\"1\"/><b y=", nullptr, true));
  EXPECT_TRUE(doc.root().child("a")) << "keepPartial keeps what came before the fault";
  EXPECT_GT(doc.errorOffset(), 0);
  EXPECT_FALSE(doc.loadFile("/nonexistent.xml"));
}
