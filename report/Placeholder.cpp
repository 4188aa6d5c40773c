// Replaced by the clipboard report.
namespace {}
