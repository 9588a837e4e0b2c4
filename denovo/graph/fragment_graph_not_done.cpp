#include "denovo/graph/fragment_graph_not_done.h"

#include <cstdio>

#include "common/ryx_exit.h"

extern "C" {

void fragment_graph_reset_not_done_nodes(fragment_graph_t *graph) {
  graph->not_done_heads[0] = graph->node_count > 0 ? 0 : -1;
  graph->not_done_heads[1] = -1;
  graph->not_done_current = 0;
  graph->not_done_next = 1;
  graph->not_done_current_mask = 0x4000;
  graph->not_done_next_mask = 0x8000;
  graph->not_done_keep_mask = kGraphNotDoneBits;
  graph->not_done_count = graph->node_count;
  for (int32_t i = 0; i < graph->node_count; i++) {
    fragment_graph_node_t &n = graph->nodes[i];
    n.flags = static_cast<uint16_t>((n.flags & 0x3FFF) | 0x4000);
    n.other_node = i + 1 < graph->node_count ? static_cast<oriented_id_t>(i + 1) : kOrientedIdNone;
  }
}

void fragment_graph_set_not_done_node(fragment_graph_t *graph, oriented_id_t node) {
  const oriented_id_t index = fragment_graph_node_index(node);
  fragment_graph_node_t &n = graph->nodes[index];
  if (n.flags & graph->not_done_next_mask) return;
  n.flags |= graph->not_done_next_mask;
  // A node still waiting in the current list moves over when it is reached.
  if (n.flags & graph->not_done_current_mask) return;
  n.other_node = static_cast<oriented_id_t>(graph->not_done_heads[graph->not_done_next]);
  graph->not_done_heads[graph->not_done_next] = static_cast<int32_t>(index);
  graph->not_done_count++;
}

oriented_id_t fragment_graph_get_not_done_node(fragment_graph_t *graph) {
  for (;;) {
    int32_t &head = graph->not_done_heads[graph->not_done_current];
    if (head == -1) {
      const int32_t index = graph->not_done_current;
      graph->not_done_current = graph->not_done_next;
      graph->not_done_next = index;
      const uint16_t mask = graph->not_done_current_mask;
      graph->not_done_current_mask = graph->not_done_next_mask;
      graph->not_done_next_mask = mask;
      return kOrientedIdNone;
    }
    const int32_t n = head;
    fragment_graph_node_t &node = graph->nodes[n];
    if (!(node.flags & graph->not_done_current_mask)) {
      printf("Error, fragment_graph_get_not_done_node at node %x\n", static_cast<unsigned>(n));
      printf("  cnode->other_node %x\n", node.other_node);
      printf("  not_done_nodes_flag_current %d\n", (node.flags & graph->not_done_current_mask) ? 1 : 0);
      printf("  not_done_nodes_flag_next    %d\n", (node.flags & graph->not_done_next_mask) ? 1 : 0);
      printf("  graph->not_done_nodes  %x\n", static_cast<unsigned>(head));
      fflush(stdout);
      ryx_exit(1);
    }
    head = static_cast<int32_t>(node.other_node);
    if (node.flags & kGraphDisabledBit) {
      // Unlinked for good: a slot reused later must not look listed.
      node.flags &= static_cast<uint16_t>(~kGraphNotDoneBits);
      graph->not_done_count--;
      continue;
    }
    if (node.flags & graph->not_done_next_mask) {
      node.flags &= static_cast<uint16_t>(~graph->not_done_current_mask);
      node.other_node = static_cast<oriented_id_t>(graph->not_done_heads[graph->not_done_next]);
      graph->not_done_heads[graph->not_done_next] = n;
      continue;
    }
    node.flags &= static_cast<uint16_t>(~kGraphNotDoneBits);
    graph->not_done_count--;
    return static_cast<oriented_id_t>(n);
  }
}

int32_t fragment_graph_get_not_done_count(const fragment_graph_t *graph) { return graph->not_done_count; }

}  // extern "C"
