import threading
import time

import numpy as np

import orbel


def scene(index):
    # A small code off centre in a larger photo-sized image: the search runs,
    # so each read takes long enough for two threads to meet inside it.
    image = np.full((720, 960, 3), 235, np.uint8)
    code = orbel.write_code(f"thread {index}", pitch=5)
    y, x = 40 + 37 * index, 60 + 53 * index
    image[y:y + code.shape[0], x:x + code.shape[1]] = code
    return image


def test_two_threads_read_as_one_and_overlap():
    images = [scene(i) for i in range(6)]
    alone = [[(c.text, c.centre) for c in orbel.read_codes(image)] for image in images]
    assert [texts[0][0] for texts in alone] == [f"thread {i}" for i in range(6)]

    results, spans = {}, {0: [], 1: []}
    start = threading.Barrier(2)

    def work(worker):
        start.wait()
        for i in range(worker, len(images), 2):
            begin = time.perf_counter()
            results[i] = [(c.text, c.centre) for c in orbel.read_codes(images[i])]
            spans[worker].append((begin, time.perf_counter()))

    threads = [threading.Thread(target=work, args=(w,)) for w in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [results[i] for i in range(6)] == alone
    # With the lock held, one thread could not even take its start time
    # while the other was inside a read.
    assert any(a0 < b1 and b0 < a1 for a0, a1 in spans[0] for b0, b1 in spans[1])
