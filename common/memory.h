// Memory held back for the end of a run.
#pragma once

namespace korv {

// Sets memory aside. When an allocation fails, it is given back before the failure is raised:
// unwinding frees a large document a piece at a time, allocating as it goes, and the token
// release and the report of the failure need memory too, so that the run still ends cleanly
// rather than being aborted.
void holdMemoryInReserve();

}  // namespace korv
