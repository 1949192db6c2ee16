#include "core/production/SharePath.h"

#include <algorithm>
#include <cstdlib>

namespace tarnvale {

std::string ShareRoot() {
  const char* root = std::getenv(kShareRootVariable);
  return root != nullptr && *root != '\0' ? std::string(root) : std::string(kDefaultShareRoot);
}

std::string OpenablePath(const std::string& stored, const std::string& shareRoot) {
  std::string path = stored;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.size() < 3 || path[0] != '/' || path[1] != '/' || path[2] == '/') return path;
  std::string root = shareRoot.empty() ? std::string(kDefaultShareRoot) : shareRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") root.clear();
  return root + "/" + path.substr(2);
}

std::string SharePathProblem(const std::string& stored) {
  std::string path = stored;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.size() < 3 || path[0] != '/' || path[1] != '/' || path[2] == '/') return {};
  for (std::size_t start = 2; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) {
      return "The path " + stored + " leaves the share root (it holds \"..\"); it is not opened";
    }
    start = end + 1;
  }
  return {};
}

}  // namespace tarnvale
