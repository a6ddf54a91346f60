// The point-of-sale relay's sale requests: recording a sale or a prescription payment made at
// the terminal (800-802), the seller list the terminal shows (400-402, answered with frame 816)
// and the counter's customer display (950, 951).
#pragma once

#include <string>
#include <string_view>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

// The database writer's texts of one sale record (fields at FS): the sale with its goods
// (`szSave`) and the payment with its prescriptions (`szSunab`), and how many goods it has:
// the items of F2 that end with GS and are not empty.
struct SaleTexts {
  std::string sale;
  std::string payment;
  int goods_count = 0;
};
// `approved_at`: the approval time written into the payment, 14 digits.
SaleTexts BuildSaleTexts(std::string_view record, std::string_view approved_at);

// Codes 800-802: the sale goes to SaveSaleData, or to SavePresData when it holds no goods.
int RecordSale(CWorkContext& context, const Request& request);

// Codes 400-402: the current sellers as frame 816.
int SendSellerList(CWorkContext& context, const Request& request);
// The frame 816 reply of `count` sellers from LoadSellerList's "|"-terminated fields.
std::string SellerListReply(int count, std::string_view sellers);

// Code 950: the customer display cleared. Code 951: today's prescriptions of the data shown.
int ClearCustomerDisplay(CWorkContext& context, const Request& request);
int ShowDisplayCustomers(CWorkContext& context, const Request& request);

}  // namespace helvar
