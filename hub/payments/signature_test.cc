#include "hub/payments/signature.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "companions/huffcompress/huff_decoder.h"
#include "companions/huffcompress/testing/signature_bmp.h"
#include "protocol/frame.h"
#include "hub/payments/receipts.h"
#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"

namespace hub::payments {

using namespace protocol;
namespace {

constexpr std::string_view kInstallDir = "C:\\Ordella";

std::string SmBlock(std::string_view image) {
  return "SM" + platform::ZeroPadded(static_cast<long long>(image.size()), 4).value() +
         std::string(image);
}

// A 042 frame from the terminal carrying the block between other fields.
std::string Frame042(std::string_view block) {
  return "\x02XX0000TRM042\x1c\x1c" + std::string(block) + "\x1c\x03\x20";
}

class SignatureTest : public ::testing::Test {
 protected:
  std::optional<std::string> Read(const std::string& windows_path) {
    std::ifstream in(platform::MapPath(windows_path).value(), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& windows_path) {
    return std::filesystem::exists(platform::MapPath(windows_path).value());
  }

  platform::testing::TempPrefix prefix_;
  const SignatureFiles files_ = SignatureFilesIn(kInstallDir);
};

TEST_F(SignatureTest, FilesLieInTheBinFolder) {
  EXPECT_EQ(files_.image, "C:\\Ordella\\Bin\\sign.bmp");
  EXPECT_EQ(files_.compressed, "C:\\Ordella\\Bin\\sign.bmp.cre");
  EXPECT_EQ(SignatureFilesIn("C:\\Ordella\\").image, "C:\\Ordella\\Bin\\sign.bmp");
}

TEST_F(SignatureTest, FindsTheBlockOrRefusesIt) {
  std::string image;
  for (int i = 0; i < 120; ++i) image.push_back(static_cast<char>(i % 2 ? '\n' : '\r'));
  EXPECT_EQ(SignatureImageIn(Frame042(SmBlock(image))), image);
  EXPECT_EQ(SignatureImageIn(Frame042(SmBlock(""))), "");

  struct Case {
    const char* what;
    std::string frame;
  };
  const Case cases[] = {
      {"no block", Frame042("no signature here")},
      {"length not digits", Frame042("SM01x0abc")},
      {"length cut short", "SM01"},
      {"length beyond the frame", "SM0120" + image.substr(0, 119)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SignatureImageIn(c.frame), std::nullopt);
  }
}

TEST_F(SignatureTest, StoresAndCompressesTheImageByteForByte) {
  const std::string bmp = huffcompress::testing::SignatureBmp();
  ASSERT_EQ(StoreSignature(Frame042(SmBlock(bmp)), files_), 1);
  EXPECT_EQ(Read(files_.image), bmp);
  const std::optional<std::string> compressed = Read(files_.compressed);
  ASSERT_TRUE(compressed);
  EXPECT_LT(compressed->size(), bmp.size());
  EXPECT_EQ(huffcompress::Decompress(*compressed), bmp);
}

TEST_F(SignatureTest, AFrameWithoutABlockLeavesNoEarlierSignatureBehind) {
  ASSERT_EQ(StoreSignature(Frame042(SmBlock("earlier customer")), files_), 1);
  ASSERT_TRUE(Exists(files_.compressed));
  EXPECT_EQ(StoreSignature(Frame042("no block"), files_), -1);
  EXPECT_FALSE(Exists(files_.image));
  EXPECT_FALSE(Exists(files_.compressed));
  EXPECT_EQ(ReadSignatureFrame(files_), std::nullopt);
}

TEST_F(SignatureTest, CompressingAMissingImageLeavesNoCompressedFile) {
  ASSERT_EQ(StoreSignature(Frame042(SmBlock("image")), files_), 1);
  std::filesystem::remove(platform::MapPath(files_.image).value());
  EXPECT_EQ(CompressSignature(files_), 0);
  EXPECT_FALSE(Exists(files_.compressed));
}

TEST_F(SignatureTest, FrameCarriesTheCompressedBytes) {
  const std::string payload(2345, 'p');
  const std::string frame = SignatureFrame(payload).value();
  EXPECT_EQ(frame.size(), 2359u);
  EXPECT_EQ(frame.substr(0, 13),
            "\x02"
            "BMPP15002345");
  EXPECT_EQ(frame.substr(13, payload.size()), payload);
  EXPECT_EQ(frame.back(), kEtx);
  EXPECT_EQ(SignatureFrame(std::string(kMaxSignaturePayload + 1, 'p')), std::nullopt);
}

TEST_F(SignatureTest, TheCardReceiptPrintsTheStoredSignatureAheadOfEachCopy) {
  PharmacySettings settings;
  settings.install_dir = std::string(kInstallDir);
  settings.payment_path = kSignPadObjectsPath;
  ApprovalRecord record{};
  SetRecordText(record, kCardNumber, "1234567890123456");
  auto slot = std::make_unique<RelaySlot>();
  slot->pending_request_code = 51;

  // Without a signature the buffers hold the print frames alone.
  ASSERT_EQ(BuildCardReceipt(*slot, record, settings), 1);
  const std::string customer_alone(slot->customer_copy.view());
  const std::string merchant_alone(slot->merchant_copy.view());
  EXPECT_EQ(customer_alone.substr(0, 15), "\x02TavenorGateway");

  const std::string bmp = huffcompress::testing::SignatureBmp();
  ASSERT_EQ(StoreSignature(Frame042(SmBlock(bmp)), files_), 1);
  ASSERT_EQ(BuildCardReceipt(*slot, record, settings), 1);
  for (const auto& [buffer, print_frame] :
       {std::pair{&slot->customer_copy, customer_alone}, {&slot->merchant_copy, merchant_alone}}) {
    const std::string_view bytes = buffer->view();
    ASSERT_EQ(bytes.substr(0, 7),
              "\x02"
              "BMPP15");
    const size_t m = static_cast<size_t>(ReadDecimal(bytes, 7, 6).value());
    EXPECT_EQ(huffcompress::Decompress(bytes.substr(13, m)), bmp);
    EXPECT_EQ(bytes[13 + m], kEtx);
    EXPECT_EQ(bytes.substr(m + 14), print_frame);
    EXPECT_EQ(buffer->bytes[static_cast<size_t>(buffer->count)], 0);
  }
}

}  // namespace
}  // namespace hub::payments
