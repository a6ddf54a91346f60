#include "hub/payments/bill_rewrite.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "companions/util/ordella_util.h"
#include "hub/core/module_state.h"
#include "hub/payments/print_texts.h"
#include "hub/payments/receipt_fields.h"

namespace hub::payments {
namespace {

namespace t = texts;

constexpr const char* kLogTag = "BillRewrite";
constexpr int kNameLineWidth = 34;
constexpr std::string_view kTenSpaces = "          ";

// What one program's bill looks like.
struct BillRules {
  std::vector<std::string_view> drop{};          // lines containing any of these are dropped
  std::vector<std::string_view> block_before{};  // the block and LF go ahead of these lines
  // A line containing `drop_unless.first` is dropped unless it contains `drop_unless.second`.
  std::pair<std::string_view, std::string_view> drop_unless{};
  std::string_view replace_with_block{};  // a line containing this becomes the block
  std::string_view compact_after{};       // the rest of this label's line loses its spaces
  std::string_view highlight_title{};     // the line from this title on is highlighted
  bool block_once = false;                // later block lines get an empty line instead
};

BillRules RulesFor(int program_index) {
  switch (program_index) {
    case 0:
    case 1:
      return {.drop = {t::kTradeName6, t::kRegistrationNumber, t::kOwner6},
              .block_before = {t::kAddress}};
    case 2:
      return {.drop = {t::kTradeName8, t::kRegistrationNumber, t::kOwner8},
              .block_before = {t::kIssueDate, t::kAddress},
              .highlight_title = t::kBillTitle,
              .block_once = true};
    case 5:
      return {.drop = {t::kTradeNameColon, t::kRegistrationNumberColon},
              .block_before = {t::kAddressSpaced2Colon},
              .drop_unless = {t::kOwnerColon, t::kPatientNameColon}};
    case 6:
    case 14:
      return {.drop = {t::kTradeName10, t::kRegistrationNumber, t::kRepresentativeSpaced},
              .block_before = {t::kAddressSpaced2}};
    case 7:
      return {.drop = {t::kTradeName10, t::kRegistrationNumber, t::kOwner10},
              .block_before = {t::kAddressSpaced2}};
    case 13:
      return {.drop = {t::kTradeName10, t::kRegistrationNumber, t::kOwner10},
              .block_before = {t::kAddressSpaced1}};
    case 8:
      return {.drop = {t::kPharmacyName, t::kRegistrationNumber, t::kPharmacistName},
              .block_before = {t::kAddress}};
    case 11:
      return {.drop = {t::kTradeNameWideColon, t::kRegistrationNumberColon},
              .replace_with_block = t::kOwnerWideColon};
    case 12:
      return {.drop = {t::kTradeName6, t::kBusinessNumber, t::kOwner6},
              .block_before = {t::kAddressShort},
              .compact_after = t::kPatientNameSpaced};
    case 15:
      return {.drop = {t::kTradeName6, t::kBusinessNumber, t::kOwner6},
              .block_before = {t::kLocation}};
    case 16:
      return {.drop = {t::kTradeName10, t::kRegistrationNumber}, .block_before = {t::kOwner10}};
    default:  // 3, 4, 9, 10 and every index without rules of its own
      return {.drop = {t::kTradeName2, t::kRegistrationNumber, t::kRepresentative},
              .block_before = {t::kAddress}};
  }
}

bool Contains(std::string_view line, std::string_view text) {
  return !text.empty() && line.find(text) != std::string_view::npos;
}

bool ContainsAny(std::string_view line, const std::vector<std::string_view>& texts) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](std::string_view text) { return Contains(line, text); });
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(kLf, start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// The first display line of at most `width` bytes, never ending inside a two-byte character.
std::string FirstDisplayLine(const std::string& text, int width) {
  std::string line(static_cast<size_t>(width) + 1, '\0');
  UtilNextLine(width, text.c_str(), line.data());
  line.resize(std::char_traits<char>::length(line.c_str()));
  return line;
}

class BillWriter {
 public:
  BillWriter(const BillRules& rules, std::string block) : rules_(rules), block_(std::move(block)) {}

  void Take(std::string_view line) {
    if (Contains(line, rules_.highlight_title)) {
      out_.push_back(kSo);
      out_.append(line.substr(line.find(rules_.highlight_title)));
      out_.push_back(kSi);
      out_.push_back(kLf);
      out_.append(kTenSpaces);
      out_.push_back(kLf);
      changed_ = true;
      return;
    }
    if (Dropped(line)) {
      dropped_ = true;
      changed_ = true;
      return;
    }
    if (Contains(line, rules_.replace_with_block)) {
      WriteBlock();
      return;
    }
    if (ContainsAny(line, rules_.block_before)) WriteBlock();
    if (Contains(line, rules_.compact_after)) {
      const size_t label = line.find(rules_.compact_after);
      out_.append(rules_.compact_after);
      out_.push_back(' ');
      out_.append(Without(line.substr(label + rules_.compact_after.size()), " "));
      out_.push_back(kLf);
      changed_ = true;
      return;
    }
    out_.append(line);
    out_.push_back(kLf);
  }

  bool changed() const { return changed_; }
  // True when identity lines were dropped and the block never took their place.
  bool identity_lost() const { return dropped_ && !block_written_; }
  std::string Text() { return std::move(out_); }

 private:
  bool Dropped(std::string_view line) const {
    if (ContainsAny(line, rules_.drop)) return true;
    return Contains(line, rules_.drop_unless.first) && !Contains(line, rules_.drop_unless.second);
  }

  void WriteBlock() {
    block_written_ = true;
    out_.append(block_);
    out_.push_back(kLf);
    if (rules_.block_once) block_.clear();
    changed_ = true;
  }

  const BillRules& rules_;
  std::string block_;
  std::string out_;
  bool changed_ = false;
  bool dropped_ = false;
  bool block_written_ = false;
};

}  // namespace

std::string IdentityBlock(const PharmacySettings& settings) {
  std::string block(1, kRs);
  block.append("17");
  block.append(t::kIdBusinessNumber).append(settings.business_number).append("    ");
  block.push_back(kLf);
  block.append(
      FirstDisplayLine(std::string(t::kIdTradeName) + settings.trade_name, kNameLineWidth));
  block.push_back(kLf);
  block.append(t::kIdOwnerName).append(settings.owner_name).append(" ");
  block.push_back(kLf);
  block.append("   ");
  block.push_back(kUs);
  return block;
}

std::string RewriteBill(std::string_view bill, const PharmacySettings& settings) {
  const BillRules rules = RulesFor(settings.program_index);
  BillWriter writer(rules, IdentityBlock(settings));
  for (std::string_view line : Lines(bill)) writer.Take(line);
  if (!writer.changed()) {
    WriteModuleLog(kLogTag, "no identity line for program index " +
                                std::to_string(settings.program_index) + ": printed as received");
    return std::string(bill);
  }
  // Without the line the block goes before, dropping the identity lines would print a bill that
  // names no pharmacy at all; the pharmacy program's own lines are the better print.
  if (writer.identity_lost()) {
    WriteModuleLog(kLogTag, "no place for the identity block for program index " +
                                std::to_string(settings.program_index) + ": printed as received");
    return std::string(bill);
  }
  return writer.Text();
}

}  // namespace hub::payments
