#include "resources/resources.h"

#include <map>

namespace vespar {

extern const unsigned char kResource_frame_config_bin[];
extern const size_t kResource_frame_config_bin_size;

std::span<const unsigned char> FrameConfigBytes() {
  return {kResource_frame_config_bin, kResource_frame_config_bin_size};
}

uint8_t FrameConfigPartsAtOnce() {
  auto bytes = FrameConfigBytes();
  return bytes.size() >= 368 ? bytes[3] : 0;
}

uint8_t FrameConfigExtraParts() {
  auto bytes = FrameConfigBytes();
  return bytes.size() >= 368 ? bytes[4] : 0;
}

const std::u16string& ResourceString(int id) {
  static const std::map<int, std::u16string> kStrings = {
      {10001, u"Vespar Downloader"},
      {10002, u"대기"},
      {10003, u"전송"},
      {10004, u"완료"},
      {10005, u"타임아웃"},
      {10006, u"중지"},
      {10007, u"접속중"},
      {10008, u"접속실패"},
      {10009, u"끊어짐"},
      {10010, u"실패"},
      {10011, u"파일 이름 : "},
      {10012, u"/"},
      {10013, u"다운로드폴더 : "},
      {10014, u"전송 속도 :"},
      {10015, u"남은 시간 :"},
      {10016, u"경과 시간 :"},
      {10031, u"폴더 선택"},
      {10032, u"시작"},
      {10033, u"자세히 보기"},
      {10034, u"취소"},
      {10035, u"폴더 열기"},
      {10040, u"시간"},
      {10041, u"분"},
      {10042, u"초"},
      {10051, u"상태"},
      {10052, u"파일 이름"},
      {10053, u"용량"},
      {10054, u"받은량"},
      {10055, u"속도"},
      {10056, u"소스"},
      {10101, u"다운로드를 종료 하시겠습니까?"},
      {10201, u"네트워크 환경에 의해 연결이 끊어 졌습니다!"},
      {10301, u"폴더를 변경 하시면 처음부터 다시 받아야 합니다.\r\n폴더를 변경 하시겠습니까?"},
      {10401, u"none"},
  };
  static const std::u16string kEmpty;
  auto it = kStrings.find(id);
  return it == kStrings.end() ? kEmpty : it->second;
}

}  // namespace vespar
