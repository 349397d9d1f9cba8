#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdint>
#include <optional>
#include <vector>

#include "gui/qt_clipboard.h"

namespace sonavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kWav = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 0xff, 0x80, 0x7f};

QByteArray AsQByteArray(const Bytes& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

TEST(QtClipboard, AnOfferIsRenderedOnlyWhenAskedAndOnlyOnce) {
  QtClipboard clipboard;
  int renders = 0;
  clipboard.OfferWav([&] {
    ++renders;
    return kWav;
  });
  EXPECT_EQ(renders, 0);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->formats(), (QStringList{"audio/wav", "audio/x-wav"}));
  EXPECT_TRUE(data->hasFormat("audio/wav"));
  EXPECT_TRUE(data->hasFormat("audio/x-wav"));
  EXPECT_FALSE(data->hasFormat("text/plain"));
  EXPECT_EQ(renders, 0);  // naming the types renders nothing
  EXPECT_EQ(data->data("audio/wav"), AsQByteArray(kWav));
  EXPECT_EQ(data->data("audio/x-wav"), AsQByteArray(kWav));
  EXPECT_TRUE(data->data("text/plain").isEmpty());
  EXPECT_EQ(clipboard.FetchWav(), kWav);
  EXPECT_EQ(renders, 1);

  // A new offer replaces the old one and renders afresh.
  const Bytes other = {'R', 'I', 'F', 'F', 9};
  clipboard.OfferWav([&] {
    ++renders;
    return other;
  });
  EXPECT_EQ(renders, 1);
  EXPECT_EQ(clipboard.FetchWav(), other);
  EXPECT_EQ(clipboard.FetchWav(), other);
  EXPECT_EQ(renders, 2);
}

TEST(QtClipboard, AnOfferThatRendersNothingHandsNothingOver) {
  QtClipboard clipboard;
  int renders = 0;
  clipboard.OfferWav([&] {
    ++renders;
    return Bytes();
  });
  EXPECT_FALSE(clipboard.FetchWav().has_value());
  EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->data("audio/wav").isEmpty());
  EXPECT_EQ(renders, 1);
}

TEST(QtClipboard, FetchingPrefersAudioWavThenTheOlderNames) {
  QtClipboard clipboard;
  auto put = [](std::initializer_list<std::pair<const char*, Bytes>> entries) {
    auto* data = new QMimeData;
    for (const auto& [type, bytes] : entries) data->setData(type, AsQByteArray(bytes));
    QGuiApplication::clipboard()->setMimeData(data);
  };
  put({{"audio/x-wav", {2}}, {"audio/wav", {1}}, {"audio/vnd.wave", {3}}});
  EXPECT_EQ(clipboard.FetchWav(), (Bytes{1}));
  put({{"audio/vnd.wave", {3}}, {"audio/x-wav", {2}}});
  EXPECT_EQ(clipboard.FetchWav(), (Bytes{2}));
  put({{"text/plain", {'a'}}, {"audio/vnd.wave", {3}}});
  EXPECT_EQ(clipboard.FetchWav(), (Bytes{3}));
  // Empty data counts as none.
  put({{"audio/wav", {}}, {"audio/x-wav", {4}}});
  EXPECT_EQ(clipboard.FetchWav(), (Bytes{4}));
  put({{"audio/wav", {}}});
  EXPECT_FALSE(clipboard.FetchWav().has_value());
  put({{"text/plain", {'a'}}});
  EXPECT_FALSE(clipboard.FetchWav().has_value());
  QGuiApplication::clipboard()->clear();
  EXPECT_FALSE(clipboard.FetchWav().has_value());
}

}  // namespace
}  // namespace sonavel
