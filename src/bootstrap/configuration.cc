#include "src/bootstrap/configuration.h"

#include "src/bootstrap/download_list.h"
#include "src/bootstrap/globals.h"
#include "src/platform/safe_names.h"
#include "src/net/url.h"
#include "src/platform/clock.h"
#include "src/platform/code_page.h"
#include "src/platform/http_client.h"
#include "src/platform/prompt.h"
#include "src/platform/text.h"

namespace vespar {
namespace {

std::string LineValue(std::u16string_view text, size_t index) {
  std::u16string_view line = FieldOf(text, u'\n', index);
  size_t equals = line.find(u'=');
  if (equals != std::u16string_view::npos) line = line.substr(equals + 1);
  return ToWire(TrimSpace(line));
}

}  // namespace

int FetchConfiguration(std::u16string_view url, const BootstrapOptions& options) {
  ConfigurationText.clear();
  UrlParts parts = SplitUrl(url);
  // The time as query keeps caches on the way from answering with an old copy.
  HttpGetRequest request;
  request.url = "http://" + parts.host + ":" + std::to_string(parts.port) + parts.path + "?" +
                CTimeText(NowLocal());
  request.agent = "Download";
  request.connectTimeoutMs = options.connectTimeoutMs;
  request.stallTimeoutS = options.stallTimeoutS;

  // The body is decoded once whole, so a character split between two blocks
  // stays intact.
  std::string body;
  HttpGetResult result = HttpGet(request, [&body](std::string_view block) { body += block; });
  if (result.error != 0) return result.error;
  if (result.status != 200) return result.status;
  ConfigurationText = FromWire(body);
  return 0;
}

std::string ParseConfiguration(std::u16string_view text) {
  std::string flag = LineValue(text, 0);
  std::string first = LineValue(text, 1);
  std::string second = LineValue(text, 2);
  std::string launch = LineValue(text, 3);
  std::string tail = "|" + flag + "|" + first + second;
  if (!launch.empty()) tail += "|" + launch;
  return tail;
}

std::vector<std::u16string> SplitStartupDescriptor(std::u16string_view descriptor) {
  std::vector<std::u16string> fields;
  size_t start = 0;
  while (start <= descriptor.size()) {
    size_t bar = descriptor.find(u'|', start);
    size_t end = bar == std::u16string_view::npos ? descriptor.size() : bar;
    if (end > start) fields.emplace_back(descriptor.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

int ApplyStartupDescriptor(std::u16string_view descriptor, const BootstrapOptions& options) {
  std::vector<std::u16string> fields = SplitStartupDescriptor(descriptor);
  if (fields.size() != 4 && fields.size() != 5) return 1;
  RegionCode = fields[0];
  LanguageModuleName = fields[1];
  FolderLayoutFlag = fields[2];
  // The launch file is started from the download folder at the end; a path
  // that leaves it is refused before anything is fetched.
  if (fields.size() == 5 && !IsSafeRelativePath(fields[4])) {
    ShowMessage(u"Invalid launch file name " + PrintableName(fields[4]), std::u16string(kCrawlFailedCaption));
    return 1;
  }
  if (BuildDownloadList(fields[3], options) != 0) return 1;
  if (fields.size() == 5) LaunchFileName = fields[4];
  if (options.resolveLanguage && !options.resolveLanguage()) return 1;
  return 0;
}

}  // namespace vespar
