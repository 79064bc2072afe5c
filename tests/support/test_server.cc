#include "tests/support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "tests/support/http_request.h"
#include "tests/support/listing.h"
#include "tests/support/response_plan.h"

namespace vespar::testing {

namespace {

constexpr int kBindAttempts = 50;

std::string AddressText(int fd, bool local) {
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  int r = local ? getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                : getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  if (r != 0) return {};
  char ip[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(sa.sin_port));
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string ContentTypeFor(std::string_view path) {
  if (EndsWith(path, "/") || EndsWith(path, ".html") || EndsWith(path, ".htm"))
    return "text/html";
  if (EndsWith(path, ".txt") || EndsWith(path, ".ini")) return "text/plain";
  if (EndsWith(path, ".sh")) return "application/x-sh";
  return "application/octet-stream";
}

bool Matches(FaultMethod m, const std::string& method) {
  return m == FaultMethod::kAny || (m == FaultMethod::kGet && method == "GET") ||
         (m == FaultMethod::kHead && method == "HEAD");
}

}  // namespace

TestServer::TestServer(TestServerOptions options)
    : options_(std::move(options)), rate_bytes_per_second_(options_.rate_bytes_per_second) {}

TestServer::~TestServer() {
  Stop();
  if (stop_fd_ >= 0) close(stop_fd_);
}

bool TestServer::Start(std::string* error) {
  if (started_) return true;
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  for (size_t i = 0; i < options_.addresses.size(); ++i) {
    listeners_.push_back(std::make_unique<Listener>(
        options_.addresses[i].address, i, stop_fd_,
        [this](int fd, size_t index) { OnAccept(fd, index); },
        [this](size_t index) { OnCount(index); }));
  }
  if (listeners_.empty()) {
    if (error) *error = "no address to listen on";
    return false;
  }
  // With port 0 the first address picks a free port; when another address
  // has that port taken already, all of them try again with a new one.
  int failure = 0;
  size_t failed_index = 0;
  for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
    uint16_t port = options_.port;
    failure = 0;
    for (size_t i = 0; i < listeners_.size() && failure == 0; ++i) {
      failure = listeners_[i]->Bind(port, options_.addresses[i].mode);
      failed_index = i;
      if (failure == 0) port = listeners_[i]->port();
    }
    if (failure == 0) {
      port_ = port;
      break;
    }
    for (auto& l : listeners_) l->Close();
    if (failure != EADDRINUSE || options_.port != 0 || failed_index == 0) break;
  }
  if (failure != 0) {
    if (error) {
      *error = "cannot bind " + options_.addresses[failed_index].address + ":" +
               std::to_string(options_.port) + ": " + std::strerror(failure);
    }
    listeners_.clear();
    return false;
  }
  for (auto& l : listeners_) l->Start();
  started_ = true;
  return true;
}

void TestServer::Stop() {
  if (!started_ || stopped_) return;
  stopped_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = false;
  }
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stop_fd_, &one, sizeof one);
  for (auto& l : listeners_) l->Join();
  std::vector<std::unique_ptr<ConnectionThread>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& c : connections) c->thread.join();
}

std::string TestServer::HostToken(size_t address_index) const {
  return options_.addresses.at(address_index).address + ":" + std::to_string(port_);
}

std::string TestServer::Url(std::string_view path, size_t address_index) const {
  return "http://" + HostToken(address_index) + std::string(path);
}

void TestServer::AddFile(std::string path, std::string content, std::string link_path) {
  if (link_path.empty()) link_path = path;
  std::lock_guard<std::mutex> lock(mutex_);
  files_[std::move(path)] =
      FileEntry{std::make_shared<const std::string>(std::move(content)), std::move(link_path)};
}

void TestServer::RemoveFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_.erase(path);
}

void TestServer::AddFolder(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  std::lock_guard<std::mutex> lock(mutex_);
  folders_.insert(std::move(path));
}

void TestServer::SetFault(std::string path, Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  int times = fault.times;
  faults_[std::move(path)] = FaultSlot{std::move(fault), times};
}

void TestServer::SetDefaultFault(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  int times = fault.times;
  default_fault_ = std::make_unique<FaultSlot>(FaultSlot{std::move(fault), times});
}

void TestServer::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  default_fault_.reset();
}

void TestServer::SetRateLimit(int64_t bytes_per_second) {
  std::lock_guard<std::mutex> lock(mutex_);
  rate_bytes_per_second_ = bytes_per_second;
}

bool TestServer::SetAddressMode(size_t address_index, AddressMode mode) {
  if (address_index >= listeners_.size()) return false;
  return listeners_[address_index]->SetMode(mode);
}

void TestServer::SetRequestObserver(std::function<void(const RequestRecord&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<RequestRecord> TestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

size_t TestServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.size();
}

size_t TestServer::RequestCount(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::count_if(log_.begin(), log_.end(),
                       [&](const RequestRecord& r) { return r.path == path; });
}

bool TestServer::WaitForRequests(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return log_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [&] { return log_.size() >= count; });
}

size_t TestServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection_count_;
}

bool TestServer::WaitForConnections(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return log_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [&] { return connection_count_ >= count; });
}

void TestServer::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
  connection_count_ = 0;
}

void TestServer::OnCount(size_t index) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++connection_count_;
  }
  log_cv_.notify_all();
}

void TestServer::OnAccept(int fd, size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReapFinished();
  if (!accepting_) {
    close(fd);
    return;
  }
  auto slot = std::make_unique<ConnectionThread>();
  ConnectionThread* raw = slot.get();
  raw->thread = std::thread([this, fd, index, raw] {
    Serve(fd, index);
    std::lock_guard<std::mutex> done_lock(mutex_);
    raw->done = true;
  });
  connections_.push_back(std::move(slot));
}

void TestServer::ReapFinished() {
  auto finished = std::stable_partition(connections_.begin(), connections_.end(),
                                        [](const auto& c) { return !c->done; });
  for (auto it = finished; it != connections_.end(); ++it) (*it)->thread.join();
  connections_.erase(finished, connections_.end());
}

Fault TestServer::TakeFault(const std::string& path, const std::string& method) {
  std::lock_guard<std::mutex> lock(mutex_);
  FaultSlot* slots[2] = {nullptr, default_fault_.get()};
  auto it = faults_.find(path);
  if (it != faults_.end()) slots[0] = &it->second;
  for (FaultSlot* slot : slots) {
    if (!slot || slot->remaining == 0 || !Matches(slot->fault.method, method)) continue;
    if (slot->remaining > 0) --slot->remaining;
    return slot->fault;
  }
  return Fault();
}

std::string TestServer::ListingFor(const std::string& folder, const std::string& host) const {
  std::set<std::string> sub_folders;
  std::vector<ListingEntry> files;
  auto note_sub_folder = [&](const std::string& path) {
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    size_t slash = path.find('/', folder.size());
    if (slash == std::string::npos) return false;
    sub_folders.insert(path.substr(0, slash + 1));
    return true;
  };
  for (const auto& [path, entry] : files_) {
    const std::string& link = entry.link_path;
    if (link.size() <= folder.size() || link.compare(0, folder.size(), folder) != 0) continue;
    if (!note_sub_folder(link))
      files.push_back(ListingEntry{link, static_cast<int64_t>(entry.content->size())});
  }
  for (const std::string& f : folders_) note_sub_folder(f);
  std::sort(files.begin(), files.end(),
            [](const ListingEntry& a, const ListingEntry& b) { return a.link_path < b.link_path; });
  std::vector<ListingEntry> entries;
  for (const std::string& f : sub_folders) entries.push_back(ListingEntry{f, -1});
  entries.insert(entries.end(), files.begin(), files.end());
  return BuildListingHtml(host, folder, entries);
}

void TestServer::Serve(int fd, size_t index) {
  RequestRecord record;
  record.address_index = index;
  record.local_address = AddressText(fd, true);
  record.remote_address = AddressText(fd, false);
  ConnectionIo io(fd, stop_fd_, &sent_);

  ConnectionIo::ReadResult read = io.ReadHead(options_.max_head_size, &record.raw_head);
  if (read == ConnectionIo::ReadResult::kGone) return;
  ResponseOptions response_options;
  response_options.connection_close = options_.connection_close;
  if (read == ConnectionIo::ReadResult::kTooLarge) {
    Fault too_large;
    too_large.status = 431;
    io.Carry(PlanResponse("GET", std::nullopt, Resource{}, too_large, response_options));
    return;
  }

  RequestHead head;
  bool parsed = ParseRequestHead(record.raw_head, &head);
  record.method = head.method;
  record.target = head.target;
  record.version = head.version;
  record.path = DecodeTargetPath(head.target);
  if (auto range = head.Field("Range")) {
    record.has_range = true;
    record.range = *range;
  }
  record.host = head.Field("Host").value_or("");

  std::function<void(const RequestRecord&)> observer;
  Resource resource;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(record);
    observer = observer_;
    response_options.rate_bytes_per_second = rate_bytes_per_second_;
    auto file = files_.find(record.path);
    if (file != files_.end()) {
      resource = Resource{file->second.content, ContentTypeFor(record.path)};
    } else if (folders_.count(record.path)) {
      std::string host = record.host.empty() ? record.local_address : record.host;
      resource = Resource{std::make_shared<const std::string>(ListingFor(record.path, host)),
                          "text/html"};
    }
  }
  log_cv_.notify_all();
  if (observer) observer(record);

  Fault fault = TakeFault(record.path, record.method);
  if (!parsed) fault.status = 400;
  std::optional<std::string> range;
  if (record.has_range) range = record.range;
  io.Carry(PlanResponse(record.method, range, resource, fault, response_options));
}

}  // namespace vespar::testing
