// Runs the fuzz target without libFuzzer: every file of the given corpus
// directories, then a seeded run of inputs made by mutating them (bytes flipped,
// inserted, removed, two inputs spliced) or from nothing.
//   kestra-fuzz [--runs N] [--seed S] DIR...

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const QByteArray& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
}

QByteArray mutate(std::vector<QByteArray>& corpus, std::mt19937_64& rng)
{
    auto pick = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
    QByteArray in = corpus.empty() || pick(8) == 0 ? QByteArray() : corpus[pick(corpus.size())];
    const size_t steps = 1 + pick(4);
    for (size_t i = 0; i < steps; ++i) {
        const auto at = qsizetype(in.isEmpty() ? 0 : pick(size_t(in.size())));
        switch (pick(5)) {
        case 0:
            if (!in.isEmpty()) in[at] = char(in[at] ^ (1 << pick(8)));
            break;
        case 1:
            in.insert(at, char(pick(256)));
            break;
        case 2:
            if (!in.isEmpty()) in.remove(at, qsizetype(1 + pick(4)));
            break;
        case 3:
            if (!corpus.empty()) in = in.left(at) + corpus[pick(corpus.size())].mid(at);
            break;
        default:
            if (!in.isEmpty()) in[at] = char(pick(256));
            break;
        }
    }
    return in;
}

} // namespace

int main(int argc, char** argv)
{
    long runs = 10000;
    unsigned long long seed = std::random_device{}();
    std::vector<QByteArray> corpus;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            const QDir dir(QString::fromLocal8Bit(arg));
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
                QFile f(dir.filePath(name));
                if (f.open(QIODevice::ReadOnly)) corpus.push_back(f.readAll());
            }
        }
    }
    std::printf("fuzz: %zu corpus inputs, %ld mutated, seed %llu (--seed %llu repeats them)\n", corpus.size(),
                runs, seed, seed);
    std::fflush(stdout);
    for (const QByteArray& input : corpus)
        run(input);
    std::mt19937_64 rng(seed);
    for (long i = 0; i < runs; ++i)
        run(mutate(corpus, rng));
    std::printf("fuzz: done\n");
    return 0;
}
