#include "refmap/map_worker.h"

#include "common/memory.h"
#include "common/progress_meter.h"

map_progress_t *map_progress_new(progress_meter_t *meter) {
  auto *progress = static_cast<map_progress_t *>(ryx_calloc(sizeof(map_progress_t)));
  pthread_mutex_init(&progress->mutex, nullptr);
  progress->meter = meter;
  return progress;
}

map_progress_t *map_progress_free(map_progress_t *progress) {
  if (progress == nullptr) return nullptr;
  pthread_mutex_destroy(&progress->mutex);
  ryx_free(progress);
  return nullptr;
}

void map_progress_reset(map_progress_t *progress, double expected_work) {
  pthread_mutex_lock(&progress->mutex);
  progress->work = 0;
  progress->reads_done = 0;
  progress->expected_work = expected_work;
  pthread_mutex_unlock(&progress->mutex);
}

void map_progress_add(map_progress_t *progress, int32_t reads, double work) {
  pthread_mutex_lock(&progress->mutex);
  progress->reads_done += reads;
  progress->work += work;
  double shown = progress->expected_work > 0 ? progress->work / progress->expected_work : 1.0;
  if (shown > 1.0) shown = 1.0;
  progress_meter_update(progress->meter, shown);
  pthread_mutex_unlock(&progress->mutex);
}

map_worker_params_t *map_worker_new(void) {
  auto *worker = static_cast<map_worker_params_t *>(ryx_calloc(sizeof(map_worker_params_t)));
  worker->length_fraction = 0.5;
  worker->similarity = 0.8;
  worker->filter_mode = -1;
  worker->mate_filter_mode = -1;
  worker->mate_gapped = 0;
  worker->mate_ungapped_scorer = 1;
  return worker;
}

map_worker_params_t *map_worker_free(map_worker_params_t *worker) {
  ryx_free(worker);
  return nullptr;
}
