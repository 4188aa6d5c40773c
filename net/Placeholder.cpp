// Replaced by the echo service and the look-ups.
namespace {}
