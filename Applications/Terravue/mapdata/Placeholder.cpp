// The map-data library grows here; this keeps the target buildable while empty.
namespace tv_mapdata_detail {
int Unused() { return 0; }
}  // namespace tv_mapdata_detail
