#pragma once

// Start and end of the protocol-buffer runtime for the whole process.
namespace ProtobufHelper {

// Stops the program when the runtime library does not match the generated message code.
void verifyVersion();
// Releases the runtime's global objects; call once, at the very end.
void shutdown();

} // namespace ProtobufHelper
