// Opaque handles of the download library's Download Agent and image objects. The library
// defines the objects; the station only holds and passes the handles.
#pragma once

namespace quenby {

struct DownloadAgentObject;
struct ImageObject;
using DaHandle = DownloadAgentObject*;
using DlHandle = ImageObject*;

}  // namespace quenby
