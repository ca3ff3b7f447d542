#pragma once
namespace ml {
// The build number: answers the presence query, is compared with a pending update's version and
// travels in login, keep-alive, search and server-list requests.
constexpr int ProgramVersion = 5004;
}  // namespace ml
