// The five sign-pad objects as the hub creates and calls them: a working-key object, a
// signature-encryption object, a request-packet object, a transaction object and an answer-packet
// object. libSignPadObjects.so makes them through one factory function, SignPadCreateInstance,
// which takes the place of creating a registered object by its class and interface identifiers.
//
// Every object is an interface of virtual methods in the order of the object's own methods
// (after Release, which stands where the standard dispatch methods stand); every operation
// reports success or failure by its result (kOk, or a negative failure code). Texts are UTF-16
// strings; the caller converts from and to its own code page. An object is released, never
// deleted, by its user.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace signpad {

// Operation results.
using Result = int32_t;
inline constexpr Result kOk = 0;
inline constexpr Result kFailed = static_cast<Result>(0x80004005);
inline constexpr Result kInvalidArgument = static_cast<Result>(0x80070057);
inline constexpr Result kNoInterface = static_cast<Result>(0x80004002);
inline constexpr Result kClassNotRegistered = static_cast<Result>(0x80040154);

inline constexpr bool Succeeded(Result result) { return result >= 0; }

// The class and interface identifiers an object is created by.
struct ObjectIds {
  std::string_view class_id;
  std::string_view interface_id;
};

// The modes the download and transaction operations take: "REAL" (the network) or "TEST".
inline constexpr std::u16string_view kRealMode = u"REAL";
inline constexpr std::u16string_view kTestMode = u"TEST";

// The kind of a data field: its value is hexadecimal text, carried as the bytes it spells.
inline constexpr int32_t kHexDataKind = 4;

class Object {
 public:
  virtual void Release() = 0;

 protected:
  ~Object() = default;
};

// Downloads the working key of a terminal from the network.
class WorkingKey : public Object {
 public:
  static constexpr ObjectIds kIds{"{7F0A2957-B164-44E4-A418-2F77752C2823}",
                                  "{91DAAE32-00AA-42A7-BCCA-57398EADC53E}"};
  // 1: every download after a terminal's first (the network refuses one it has not started).
  virtual Result LaterDownload(const char16_t* mode, const char16_t* terminal_id) = 0;
  // 2: when the key was downloaded: YYYYMMDDhhmmss.
  virtual Result DownloadTime(std::u16string* time) = 0;
  // 3, 4: the downloaded key (hexadecimal) and the index of the master key it is kept under.
  virtual Result WorkingKeyText(std::u16string* key) = 0;
  virtual Result MasterKeyIndex(std::u16string* index) = 0;
  // 5: a terminal's first download: the network issues a fresh key.
  virtual Result FirstDownload(const char16_t* mode, const char16_t* terminal_id) = 0;

 protected:
  ~WorkingKey() = default;
};

// Turns the signature image file into the packet's signature data and its hash code.
class SignEncrypt : public Object {
 public:
  static constexpr ObjectIds kIds{"{31E5D621-6622-4B55-AB2E-3E75ECB57B6C}",
                                  "{1EA4383A-C4C8-4ADF-8D09-A9AABCBF0296}"};
  // 1: reads the image file (a Windows file name). Fails when it is missing, empty or too large.
  virtual Result Encrypt(const char16_t* file_name) = 0;
  // 2, 3: after Encrypt: the signature data (hexadecimal) and its hash code.
  virtual Result SignData(std::u16string* data) = 0;
  virtual Result HashCode(std::u16string* hash) = 0;

 protected:
  ~SignEncrypt() = default;
};

// Builds a request packet of named fields after the structure of its packet name.
class RequestPacket : public Object {
 public:
  static constexpr ObjectIds kIds{"{1DAF56D8-924C-45AD-874B-AD3A98C11EE7}",
                                  "{03FA3947-0E3A-4457-ABCD-16C8688C2FF4}"};
  // 1: forgets the structure and every field.
  virtual Result Finish() = 0;
  // 2: the structure of a packet name; fails for a name the network does not know.
  virtual Result LoadPacketStruct(const char16_t* packet_name) = 0;
  // 3: a text field of the structure; fails for a field it does not have, a data field, or a
  // value too long for a field.
  virtual Result SetTextField(const char16_t* field_name, const char16_t* value) = 0;
  // 4: the packet (text) of the fields set; fails without a structure.
  virtual Result Packet(std::u16string* packet) = 0;
  // 5: a field's value as set.
  virtual Result GetField(const char16_t* field_name, std::u16string* value) = 0;
  // 6: every field back to empty; the structure stays.
  virtual Result ClearFields() = 0;
  // 7: a data field of the structure with its kind (kHexDataKind only).
  virtual Result SetDataField(const char16_t* field_name, int32_t kind, const char16_t* value) = 0;

 protected:
  ~RequestPacket() = default;
};

// Exchanges a request packet with the network.
class Transaction : public Object {
 public:
  static constexpr ObjectIds kIds{"{CAB05CFE-AB77-4388-A758-08EB4F4B76AA}",
                                  "{7239DAB3-543D-4E22-A538-B734B2F0BA6E}"};
  // 1: sends the packet and gives the answer packet; fails when the network cannot be reached,
  // does not answer in time or answers with something that is not an answer packet.
  virtual Result Transact(const char16_t* mode, const char16_t* packet, std::u16string* answer) = 0;

 protected:
  ~Transaction() = default;
};

// Reads the named fields of an answer packet after the structure of its packet name.
class AnswerPacket : public Object {
 public:
  static constexpr ObjectIds kIds{"{92B51EA8-893C-476A-992D-CA7871A6FB27}",
                                  "{1583A865-B133-4571-B0ED-45D47820D55C}"};
  // 1: forgets the structure and the packet.
  virtual Result Finish() = 0;
  // 2: the answer structure of a packet name (the request's name).
  virtual Result LoadPacketStruct(const char16_t* packet_name) = 0;
  // 3: how many fields the structure has.
  virtual Result FieldCount(int32_t* count) = 0;
  // 4: a field of the packet set; fails for a field the structure does not have, or before a
  // packet was set.
  virtual Result GetField(const char16_t* field_name, std::u16string* value) = 0;
  // 5: the answer packet; fails when it is not a packet of the structure.
  virtual Result SetPacket(const char16_t* packet) = 0;

 protected:
  ~AnswerPacket() = default;
};

}  // namespace signpad

#define SIGNPAD_OBJECTS_API __attribute__((visibility("default")))

extern "C" {
// Creates one object: *object receives the interface (one of the classes above) of the class
// `class_id`, asked for by `interface_id` (both "{...}" texts, compared without regard to case).
// kClassNotRegistered for an unknown class, kNoInterface for an interface the class does not
// have, kInvalidArgument for a null argument.
SIGNPAD_OBJECTS_API signpad::Result SignPadCreateInstance(const char* class_id,
                                                          const char* interface_id, void** object);
}
