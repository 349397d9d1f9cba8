#include "gui/qt_clipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace sonavel {
namespace {

// The types the offer answers to, and what a fetch accepts in this order of preference.
const QStringList kOfferedTypes = {"audio/wav", "audio/x-wav"};
const QStringList kAcceptedTypes = {"audio/wav", "audio/x-wav", "audio/vnd.wave"};

// WAV data made when first asked for and kept for later requests.
class WavMimeData final : public QMimeData {
 public:
  explicit WavMimeData(std::function<std::vector<std::uint8_t>()> render) : render_(std::move(render)) {}

  QStringList formats() const override { return kOfferedTypes; }
  bool hasFormat(const QString& type) const override { return kOfferedTypes.contains(type); }

 protected:
  QVariant retrieveData(const QString& type, QMetaType meta_type) const override {
    if (!kOfferedTypes.contains(type)) return QMimeData::retrieveData(type, meta_type);
    if (!rendered_) {
      rendered_ = true;
      if (render_) {
        const std::vector<std::uint8_t> bytes = render_();
        bytes_ = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
      }
      render_ = nullptr;  // whatever it holds is not needed any more
    }
    // Empty bytes hand nothing over.
    if (bytes_.isEmpty()) return QVariant();
    return bytes_;
  }

 private:
  mutable std::function<std::vector<std::uint8_t>()> render_;
  mutable bool rendered_ = false;
  mutable QByteArray bytes_;
};

}  // namespace

void QtClipboard::OfferWav(std::function<std::vector<std::uint8_t>()> render) {
  // The clipboard takes the data's ownership.
  QGuiApplication::clipboard()->setMimeData(new WavMimeData(std::move(render)));
}

std::optional<std::vector<std::uint8_t>> QtClipboard::FetchWav() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (data == nullptr) return std::nullopt;
  for (const QString& type : kAcceptedTypes) {
    if (!data->hasFormat(type)) continue;
    const QByteArray bytes = data->data(type);
    if (bytes.isEmpty()) continue;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  return std::nullopt;
}

}  // namespace sonavel
