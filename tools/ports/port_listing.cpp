// The listing of adapters and port links.
#include "tools/ports/port_listing.h"

#include <set>
#include <system_error>

#include "tools/ports/text_table.h"

namespace quenby::ports {

namespace {

std::string orDash(const std::string& text) { return text.empty() ? "-" : text; }

// True when the link's text names an entry of the by-path folder (a relative text is relative to
// the ports folder).
bool throughByPath(const PortLink& link, const DeviceTree& tree,
                   const std::filesystem::path& portsDir) {
  if (link.target.empty()) return false;
  const std::filesystem::path target =
      link.target.is_absolute() ? link.target : portsDir / link.target;
  std::error_code ec;
  return std::filesystem::weakly_canonical(target.parent_path(), ec) ==
         std::filesystem::weakly_canonical(tree.byPathDir(), ec);
}

}  // namespace

std::string portListing(const std::vector<SerialAdapter>& adapters,
                        const std::vector<PortLink>& links, const DeviceTree& tree,
                        const std::filesystem::path& portsDir) {
  std::string text;
  std::set<std::uint16_t> shown;
  if (adapters.empty()) {
    text += "No serial adapter in " + (tree.devDir / "serial").string() + ".\n";
  } else {
    std::vector<TextRow> rows{{"COM", "device", "driver", "USB path", "by-path", "by-id"}};
    for (const SerialAdapter& adapter : adapters) {
      std::string coms;
      for (const PortLink& link : links) {
        if (!link.problem.empty() || !link.device || link.device->number != adapter.device.number ||
            !throughByPath(link, tree, portsDir))
          continue;
        coms += (coms.empty() ? "" : ",") + comName(link.com);
        shown.insert(link.com);
      }
      rows.push_back({orDash(coms), adapter.kernelName(), orDash(adapter.driver),
                      orDash(adapter.usbPath), orDash(adapter.stableName()),
                      adapter.byId.empty() ? "-" : adapter.byId.front()});
    }
    text += alignedTable(rows);
  }

  std::vector<TextRow> others;
  for (const PortLink& link : links) {
    if (shown.count(link.com)) continue;
    std::string state = link.problem.empty() ? "no stable name: not in " +
                                                   tree.byPathDir().string()
                                             : "broken: " + link.problem;
    others.push_back({comName(link.com), "->", orDash(link.target.string()), state});
  }
  if (!others.empty()) {
    text += "\nPort links in " + portsDir.string() + " that lead to no adapter above:\n";
    text += alignedTable(others);
  }
  if (links.empty()) text += "\nNo port link in " + portsDir.string() + ".\n";
  return text;
}

}  // namespace quenby::ports
