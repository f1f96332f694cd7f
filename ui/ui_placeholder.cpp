// Keeps qv_ui a valid library while its windows are written.
namespace ui {
int PlaceholderUnit() { return 0; }
}  // namespace ui
