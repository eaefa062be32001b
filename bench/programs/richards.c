#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* The richards scheduler: six tasks in one struct with a kind tag, packets
   in singly linked queues. Everything a simulation allocates is freed at its
   end. */
enum { IDLE, WORKER, HANDLER_A, HANDLER_B, DEVICE_A, DEVICE_B, TASKS };
enum { DEVICE_PACKET, WORK_PACKET };
#define BUFFER_SIZE 4

typedef struct packet {
    struct packet *link;
    int64_t ident, kind, datum;
    int64_t data[BUFFER_SIZE];
} packet;

typedef struct task {
    struct task *link;
    int64_t ident, priority;
    packet *queue;
    bool packet_pending, waiting, holding;
    /* idle */
    int64_t control, count;
    /* worker */
    int64_t destination;
    /* handler */
    packet *work, *devices;
    /* device */
    packet *pending;
    int64_t written;
} task;

typedef struct {
    task *tasks[TASKS];
    task *task_list;
    int64_t queue_count, hold_count;
} scheduler;

static packet *all_packets[16];
static int packet_count;

static packet *new_packet(packet *link, int64_t ident, int64_t kind) {
    packet *p = calloc(1, sizeof *p);
    p->link = link;
    p->ident = ident;
    p->kind = kind;
    all_packets[packet_count++] = p;
    return p;
}

static packet *append_to(packet *p, packet *queue) {
    p->link = NULL;
    if (!queue) return p;
    packet *last = queue;
    while (last->link) last = last->link;
    last->link = p;
    return queue;
}

static task *new_task(scheduler *s, int64_t ident, int64_t priority, packet *queue) {
    task *t = calloc(1, sizeof *t);
    t->ident = ident;
    t->priority = priority;
    t->queue = queue;
    t->packet_pending = queue != NULL;
    t->link = s->task_list;
    s->task_list = t;
    s->tasks[ident] = t;
    return t;
}

static task *find(scheduler *s, int64_t ident) {
    task *t = s->tasks[ident];
    if (!t) {
        fprintf(stderr, "no task %lld\n", (long long)ident);
        exit(1);
    }
    return t;
}

static task *wait_task(task *t) {
    t->waiting = true;
    return t;
}

static task *hold(scheduler *s, task *t) {
    s->hold_count++;
    t->holding = true;
    return t->link;
}

static task *release(scheduler *s, task *t, int64_t ident) {
    task *other = find(s, ident);
    other->holding = false;
    return other->priority > t->priority ? other : t;
}

static task *add_packet(task *t, packet *p, task *old) {
    if (!t->queue) {
        t->queue = p;
        t->packet_pending = true;
        if (t->priority > old->priority) return t;
    } else {
        append_to(p, t->queue);
    }
    return old;
}

static task *send(scheduler *s, task *t, packet *p) {
    task *other = find(s, p->ident);
    s->queue_count++;
    p->link = NULL;
    p->ident = t->ident;
    return add_packet(other, p, t);
}

static task *run(scheduler *s, task *t, packet *p) {
    switch (t->ident) {
    case IDLE:
        if (--t->count == 0) return hold(s, t);
        if ((t->control & 1) == 0) {
            t->control /= 2;
            return release(s, t, DEVICE_A);
        }
        t->control = (t->control / 2) ^ 0xD008;
        return release(s, t, DEVICE_B);
    case WORKER:
        if (!p) return wait_task(t);
        t->destination = t->destination == HANDLER_A ? HANDLER_B : HANDLER_A;
        p->ident = t->destination;
        p->datum = 0;
        for (int i = 0; i < BUFFER_SIZE; i++) {
            if (++t->count > 26) t->count = 1;
            p->data[i] = 'A' + t->count - 1;
        }
        return send(s, t, p);
    case HANDLER_A:
    case HANDLER_B: {
        if (p) {
            if (p->kind == WORK_PACKET)
                t->work = append_to(p, t->work);
            else
                t->devices = append_to(p, t->devices);
        }
        packet *work = t->work;
        if (!work) return wait_task(t);
        int64_t count = work->datum;
        if (count >= BUFFER_SIZE) {
            t->work = work->link;
            return send(s, t, work);
        }
        packet *device = t->devices;
        if (!device) return wait_task(t);
        t->devices = device->link;
        device->datum = work->data[count];
        work->datum = count + 1;
        return send(s, t, device);
    }
    default:
        if (!p) {
            packet *pending = t->pending;
            if (!pending) return wait_task(t);
            t->pending = NULL;
            return send(s, t, pending);
        }
        t->pending = p;
        t->written += p->datum;
        return hold(s, t);
    }
}

static task *run_task(scheduler *s, task *t) {
    packet *p = NULL;
    if (t->packet_pending && t->waiting && !t->holding && t->queue) {
        p = t->queue;
        t->queue = p->link;
        t->waiting = false;
        t->packet_pending = t->queue != NULL;
    }
    return run(s, t, p);
}

static void simulate(int64_t count, int64_t out[4]) {
    scheduler s = {0};
    packet_count = 0;
    task *idle = new_task(&s, IDLE, 1, NULL);
    idle->control = 1;
    idle->count = count;
    packet *work = new_packet(NULL, IDLE, WORK_PACKET);
    work = new_packet(work, IDLE, WORK_PACKET);
    task *worker = new_task(&s, WORKER, 1000, work);
    worker->waiting = true;
    worker->destination = HANDLER_A;
    static const int64_t handlers[2][3] = {{HANDLER_A, DEVICE_A, 2000}, {HANDLER_B, DEVICE_B, 3000}};
    for (int h = 0; h < 2; h++) {
        packet *packets = NULL;
        for (int i = 0; i < 3; i++) packets = new_packet(packets, handlers[h][1], DEVICE_PACKET);
        new_task(&s, handlers[h][0], handlers[h][2], packets)->waiting = true;
    }
    task *device_a = new_task(&s, DEVICE_A, 4000, NULL);
    device_a->waiting = true;
    task *device_b = new_task(&s, DEVICE_B, 5000, NULL);
    device_b->waiting = true;

    task *t = s.task_list;
    while (t) {
        if (t->holding || (!t->packet_pending && t->waiting))
            t = t->link;
        else
            t = run_task(&s, t);
    }
    out[0] = s.queue_count;
    out[1] = s.hold_count;
    out[2] = device_a->written;
    out[3] = device_b->written;
    for (int i = 0; i < TASKS; i++) free(s.tasks[i]);
    for (int i = 0; i < packet_count; i++) free(all_packets[i]);
}

int main(void) {
    enum { ROUNDS = 1000 };
    int64_t totals[4] = {0};
    for (int64_t round = 0; round < ROUNDS; round++) {
        int64_t counts[4];
        simulate(10000 + round % 7, counts);
        for (int i = 0; i < 4; i++) totals[i] += counts[i];
        if (round % 250 == 0)
            printf("round %lld: queued %lld, held %lld, written %lld and %lld\n", (long long)round,
                   (long long)counts[0], (long long)counts[1], (long long)counts[2], (long long)counts[3]);
    }
    printf("%d rounds: queued %lld, held %lld, written %lld and %lld\n", ROUNDS, (long long)totals[0],
           (long long)totals[1], (long long)totals[2], (long long)totals[3]);
    return 0;
}
