// The message codes of the gateway frames (bytes 10-12) that the hub, Helvar and the terminal
// agree on. A code not named here that reaches the hub from a terminal is a payment answer.
#pragma once

namespace protocol {

enum TerminalMessage : int {
  // Terminal to hub.
  kMsgControl = 1,          // "NACK", "BDB", "INIT" or the end of a relayed request
  kMsgRelayEnd = 2,         // the end of a relayed request
  kMsgCardData = 12,        // answer to 011: the card data
  kMsgPharmChartPlus = 13,  // open a customer in PharmChartPlus
  kMsgSignature = 42,       // answer to 041: the customer's signature
  kMsgPrinted = 152,        // answer to a print message: printed
  kMsgPaymentAnswer158 = 158,
  kMsgCardQuery = 810,  // card or customer query
  kMsgSale = 812,
  kMsgCancel = 813,
  kMsgNoAction814 = 814,
  kMsgSellerListQuery = 815,  // seller list when field 1 begins with "C"
  kMsgBarcodeTransferEnd = 818,
  kMsgPrescriptions = 820,  // today's prescriptions
  kMsgGuidancePrint = 822,  // medication guidance print
  kMsgNoAction830 = 830,
  kMsgSampleGuidance = 833,  // sample guidance sheet
  kMsgBarcodeLookup = 835,   // barcode look-up or new item
  kMsgBarcodeRebuild = 837,  // rebuild the barcode database
  kMsgBarcodeRead = 838,
  kMsgTypeText = 839,      // text to type into the focused window
  kMsgSignOnAnswer = 840,  // also sent at the host's request; from the terminal: no action
  kMsgSignOn = 842,        // from the terminal: sign-on; to it: the settings download
  kMsgPaymentAnswer844 = 844,
  kMsgCustomerDisplay = 880,  // customer list or customer display
  kMsgCancelWithMessage = 883,
  kMsgBarcodeReadSecond = 888,
  kMsgPm2000Screen = 890,  // PM2000 screen selection
  kMsgPaymentAnswer892 = 892,
  kMsgPaymentAnswer912 = 912,

  // Hub or Helvar to terminal.
  kMsgShortCustomerList = 811,
  kMsgSellerList = 816,
  kMsgBarcodeBuildAnswer = 817,
  kMsgPrescriptionList = 821,
  kMsgGreeting = 841,
  kMsgHostRequest = 843,
  kMsgLongCustomerList = 881,
};

}  // namespace protocol
