#include "helvar/card_network_binding.h"

#include <array>
#include <cstring>

#include "helvar/helvar_log.h"

namespace helvar {
namespace {

constexpr std::string_view kLogTag = "CardNetwork";
// What ordinal 4 is asked for: the card read at terminal 0 ("011"), of kind "2".
constexpr char kCardReadCode[] = "011";
constexpr char kCardReadKind[] = "2";
constexpr size_t kAnswerCodeField = 1, kAnswerMessageField = 2;

template <typename Fn>
bool Find(const platform::Library& library, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(library.Symbol(name));
  return *out != nullptr;
}

std::string Kept(const char* buffer, size_t room) {
  return std::string(buffer, strnlen(buffer, room));
}

}  // namespace

std::unique_ptr<CEdiconnBinding> CEdiconnBinding::Load() {
  platform::Status error;
  std::unique_ptr<platform::Library> library = platform::Library::Load(kEdiconnLibraryName, &error);
  if (library == nullptr) {
    WriteLog(kLogTag, std::string(kEdiconnLibraryName) + " not loaded: " + error.message());
    return nullptr;
  }
  std::unique_ptr<CEdiconnBinding> binding(new CEdiconnBinding());
  if (!Find(*library, "EdiReadCard", &binding->read_card_) ||
      !Find(*library, "EdiCardTrack", &binding->card_track_) ||
      !Find(*library, "EdiPosRequest", &binding->pos_request_) ||
      !Find(*library, "EdiPosAnswer", &binding->pos_answer_)) {
    WriteLog(kLogTag, library->path() + " lacks an entry point");
    return nullptr;
  }
  binding->library_ = std::move(library);
  return binding;
}

std::optional<std::string> CEdiconnBinding::ReadCardTrack(std::string_view host,
                                                          std::string_view port,
                                                          std::string_view prompt) {
  const std::string h(host), p(port), text(prompt);
  const int read = read_card_(h.c_str(), p.c_str(), kCardReadCode, kCardReadKind, text.c_str());
  if (read != kEdiOk) {
    WriteLog(kLogTag, "EdiReadCard = " + std::to_string(read));
    return std::nullopt;
  }
  std::array<char, kEdiTrackRoom> track{};
  if (card_track_(track.data()) != kEdiOk) {
    WriteLog(kLogTag, "EdiCardTrack gave no track");
    return std::nullopt;
  }
  return Kept(track.data(), track.size());
}

std::optional<CardNetworkAnswer> CEdiconnBinding::Exchange(const CardRequest& r) {
  const auto t = [&r](size_t i) { return r[i].c_str(); };
  const int exchanged =
      pos_request_(t(0), t(1), t(2), t(3), t(4), t(5), t(6), t(7), t(8), t(9), t(10), t(11),
                   t(12), t(13), t(14), t(15), t(16), t(17), t(18), t(19), t(20), t(21), t(22),
                   t(23), t(24));
  if (exchanged != kEdiOk) {
    WriteLog(kLogTag, "EdiPosRequest " + r[2] + " = " + std::to_string(exchanged));
    return std::nullopt;
  }
  std::array<std::array<char, kEdiFieldRoom>, kEdiPosAnswerFields> f{};
  const auto b = [&f](size_t i) { return f[i].data(); };
  if (pos_answer_(b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8), b(9), b(10), b(11),
                  b(12), b(13), b(14), b(15), b(16), b(17), b(18), b(19), b(20), b(21), b(22),
                  b(23), b(24), b(25), b(26), b(27), b(28), b(29)) != kEdiOk) {
    WriteLog(kLogTag, "EdiPosAnswer gave no answer");
    return std::nullopt;
  }
  return CardNetworkAnswer{Kept(f[kAnswerCodeField].data(), kEdiFieldRoom),
                           Kept(f[kAnswerMessageField].data(), kEdiFieldRoom)};
}

}  // namespace helvar
