// Route choice: the documented cases, and every strategy of the table searched against the literal
// stack enumeration.
#include <iterator>

#include "check.hpp"
#include "core/admission.hpp"
#include "core/routing.hpp"
#include "core/strategies.hpp"
#include "fixtures.hpp"

using namespace vorn;

constexpr auto kLatency = StrategyType::LowestLatency;
constexpr auto kFidelity = StrategyType::HighestFidelity;
constexpr auto kSuccess = StrategyType::HighestSuccess;

// Each strategy's score of a path (its joining links in order) and whether the least score wins,
// stated apart from the table so that a wrong entry shows. A strategy not stated here is read from its
// entry, so that the oracle meets every strategy the table holds.
static std::pair<double, bool> stated(const Strategy& strategy, const std::vector<const InternalLink*>& hops) {
    double km = 0.0, fidelity = 1.0, success = 0.0, own = strategy.combine == Combine::Sum ? 0.0 : 1.0;
    for (const InternalLink* link : hops) {
        km += link->distance_km;
        fidelity *= link->base_fidelity;
        success += link->base_fidelity * link->generation_rate_hz;
        own = strategy.combine == Combine::Sum ? own + strategy.term(*link) : own * strategy.term(*link);
    }
    if (strategy.type == kLatency) return {km, true};
    if (strategy.type == kFidelity) return {fidelity, false};
    if (strategy.type == kSuccess) return {success, false};
    return {own, strategy.goal == Goal::Least};
}

// The enumeration in its plain form: a stack of (node, path) entries, every candidate materialised,
// joining links found by scanning the list, each candidate scored from scratch against the best.
struct Reference {
    std::optional<RouteInfo> route;
    std::uint64_t candidates = 0;
};

static Reference literal_search(const QuantumNetwork& network, const std::string& from, const std::string& to,
                                const Strategy& strategy) {
    Reference reference;
    if (network.empty() || !network.has_node(from) || !network.has_node(to)) return reference;
    const auto& links = network.links();
    auto route_of = [&](const std::vector<std::string>& path) {
        RouteInfo route{path, 1.0, {}};
        for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            std::size_t l = 0;
            while (!(links[l].from == path[i] && links[l].to == path[i + 1]) &&
                   !(links[l].to == path[i] && links[l].from == path[i + 1]))
                ++l;
            route.fidelity *= links[l].base_fidelity;
            route.hop_links.push_back(l);
        }
        return route;
    };
    auto score = [&](const RouteInfo& route) {
        std::vector<const InternalLink*> hops;
        for (std::size_t l : route.hop_links) hops.push_back(&links[l]);
        return stated(strategy, hops);
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> stack{{from, {from}}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        if (node == to) {
            ++reference.candidates;
            RouteInfo candidate = route_of(path);
            if (!reference.route) {
                reference.route = candidate;
                continue;
            }
            const auto [best, least] = score(*reference.route);
            const double challenger = score(candidate).first;
            if (least ? best > challenger : !(best > challenger)) reference.route = candidate;
            continue;
        }
        for (const auto& link : links) {
            const std::string& other = link.from == node ? link.to : link.to == node ? link.from : node;
            if (other == node || std::find(path.begin(), path.end(), other) != path.end()) continue;
            stack.push_back({other, path});
            stack.back().second.push_back(other);
        }
    }
    return reference;
}

// Nodes <prefix>0 .. <prefix>n-1, every pair linked with the figures (km, fidelity) that `figures(i, j)` gives.
template <class Figures>
static QuantumNetwork mesh(const std::string& prefix, int n, Figures figures) {
    QuantumNetwork network;
    for (int i = 0; i < n; ++i) network.add_node(prefix + std::to_string(i), 1.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const auto [km, fidelity] = figures(i, j);
            network.add_link(prefix + std::to_string(i), prefix + std::to_string(j), LinkType::Fiber, km, fidelity,
                             1000.0);
        }
    return network;
}

static QuantumNetwork complete_graph(int n) {
    return mesh("N", n, [](int i, int j) { return std::pair{10.0 + (i * j) % 7, 0.9 + 0.01 * ((i + j) % 5)}; });
}

// The node table's ids, and links as "from to km fidelity rate", separated by commas.
static QuantumNetwork network_of(const std::string& nodes, const std::string& links) {
    QuantumNetwork network;
    std::istringstream ids(nodes), list(links);
    for (std::string id; ids >> id;) network.add_node(id, 1.0);
    for (std::string link; std::getline(list, link, ',');) {
        std::istringstream fields(link);
        std::string from, to;
        double km = 0, fidelity = 0, rate = 0;
        fields >> from >> to >> km >> fidelity >> rate;
        network.add_link(from, to, LinkType::Fiber, km, fidelity, rate);
    }
    return network;
}

// The documented tie-breaks, joining-link and admission rules, as admission chooses the route.
TEST_CASE("documented route choices") {
    const std::string diamond = "A B 10 0.9 100, A E 10 0.9 100, B D 10 0.9 100, E D 10 0.9 100";
    const struct {
        const char *name, *nodes;
        std::string links;
        const char *from, *to;
        StrategyType strategy;
        double target;
        const char* path;  // empty: no route
        double fidelity;
    } cases[] = {
        {"to itself", "A B", "A B 5 0.7 1", "A", "A", kLatency, 0, "A", 1.0},
        {"end not a node", "A", "A B 5 0.7 1", "A", "B", kFidelity, 0, "", 0},
        {"no chain of links", "A B C", "A C 5 0.7 1", "A", "B", kSuccess, 0, "", 0},
        {"against the link's direction", "A B", "B A 5 0.7 1", "A", "B", kLatency, 0, "A B", 0.7},
        {"diamond, latency keeps the earlier", "A B D E", diamond, "A", "D", kLatency, 0, "A E D", 0.81},
        {"diamond, fidelity takes the later", "A B D E", diamond, "A", "D", kFidelity, 0, "A B D", 0.81},
        {"diamond, success takes the later", "A B D E", diamond, "A", "D", kSuccess, 0, "A B D", 0.81},
        {"two short hops beat a long one", "A B C", "A C 30 0.9 1, A B 10 0.9 1, B C 10 0.9 1", "A", "C", kLatency, 0,
         "A B C", 0.81},
        {"two good hops beat one", "A B C", "A C 5 0.9 1, A B 10 0.95 1, B C 10 0.95 1", "A", "C", kFidelity, 0,
         "A B C", 0.95 * 0.95},
        {"fidelity below the target: the latency route", "A B C", "A C 5 0.9 1, A B 10 0.95 1, B C 10 0.95 1", "A", "C",
         kFidelity, 0.95, "A C", 0.9},
        {"self-loop never followed", "A B", "A A 0 1 1e9, A B 5 0.6 1", "A", "B", kSuccess, 0, "A B", 0.6},
        {"parallel links: first one's figures", "A B", "B A 5 0.6 1, A B 1 0.99 1", "A", "B", kFidelity, 0, "A B", 0.6},
        {"intermediate node outside the table", "A C", "A X 1 0.9 1, X C 1 0.9 1", "A", "C", kFidelity, 0, "A X C",
         0.81},
    };
    const TimelineSettings settings;
    for (const auto& c : cases) {
        const QuantumNetwork network = network_of(c.nodes, c.links);
        const Admission admission = admit_route(network, {c.from, c.to, c.target, 1.0, c.strategy}, settings);
        std::istringstream expected(c.path);
        const std::vector<std::string> path{std::istream_iterator<std::string>(expected), {}};
        CHECK_FOR(c.name,
                  admission.path == path && check::same_double(admission.fidelity, path.empty() ? 0 : c.fidelity));
    }
}

// Figures drawn from palettes that provoke what the bounds must survive: exact ties, sums whose
// rounding depends on the order (0.1 + 0.2 > 0.3), products that underflow, zeros, and figures that
// must switch the bounds off (NaN, negative, infinite, fidelities above 1).
struct Palette {
    std::vector<double> km, fidelity, rate;
};

const std::vector<Palette>& palettes() {
    static const std::vector<Palette> all = {
        {{1, 2, 2, 0}, {0.5, 1, 1, 0.25}, {1, 2}},
        {{0.1, 0.2, 0.3, 0.7, 1.1, 0.6}, {0.9, 0.95, 0.7, 0.3, 0.99, 0.665}, {100, 0.5}},
        {{0, 1e-300, 1e16, 1, 3e5, 1e300, 5e-324}, {0, 1, 1e-200, 1e-160, 0.5}, {0, 1e300}},
        {{}, {}, {}},  // uniform over the reference topologies' ranges
        {{0.5, 0.9, 1.0, 10.0, 20.0, 0.0, -0.0, kNaN, -1.0, kInf},
         {0.5, 0.9, 1.0, 0.0, kNaN, 1.5, -0.5},
         {1, kNaN, -1}},
    };
    return all;
}

struct Generated {
    QuantumNetwork network;
    std::vector<std::string> names;
};

class Generator {
public:
    explicit Generator(unsigned seed) : random(seed) {}

    Generated next(int round) {
        palette_ = &palettes()[round % palettes().size()];
        switch (round / static_cast<int>(palettes().size()) % 5) {
            case 0: return multigraph();
            case 1: return complete();
            case 2: return duel();
            case 3: return equal_figures();
            default: return long_chain();
        }
    }

    std::mt19937 random;

private:
    int below(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }
    double uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); }
    double pick(const std::vector<double>& values, double low, double high) {
        return values.empty() ? uniform(low, high) : values[random() % values.size()];
    }
    void add(Generated& g, const std::string& a, const std::string& b, std::optional<double> km = std::nullopt) {
        g.network.add_link(a, b, LinkType::Fiber, km ? *km : pick(palette_->km, 5, 6000),
                           pick(palette_->fidelity, 0.75, 0.98), pick(palette_->rate, 50, 2000));
    }
    void link(Generated& g, int a, int b, std::optional<double> km = std::nullopt) {
        add(g, g.names[a], g.names[b], km);
    }

    // Every node in the node table but, now and then, one intermediate node.
    Generated nodes(int n) {
        Generated g;
        for (int i = 0; i < n; ++i) g.names.push_back("n" + std::to_string(i));
        for (int i = 0; i < n; ++i)
            if (i < 2 || below(8) != 0) g.network.add_node(g.names[i], 1.0);
        return g;
    }

    // Parallel links (reversed) and self-loops sprinkled over any topology.
    void extras(Generated& g, int n) {
        for (int k = below(3); k > 0; --k) {
            const int a = below(n);
            const auto& existing = g.network.links();
            if (random() % 2 && !existing.empty()) {
                const auto twin = existing[random() % existing.size()];  // a copy: adding a link moves the list
                add(g, twin.to, twin.from);
            } else
                link(g, a, a);
        }
    }

    Generated multigraph() {
        const int n = 2 + below(6);
        Generated g = nodes(n);
        for (int l = below(13); l > 0; --l) link(g, below(n), below(n));
        return g;
    }

    Generated complete() {
        const int n = 3 + below(5);
        Generated g = nodes(n);
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j) random() % 2 ? link(g, i, j) : link(g, j, i);
        extras(g, n);
        return g;
    }

    // Chains from n0 to n1 whose figures are orderings of the same few values (equal in exact
    // arithmetic, not always once rounded hop by hop), and a direct link whose scores equal the first
    // chain's rounded scores or lie one step beside them; links in random order.
    Generated duel() {
        const int length = 2 + below(4), chains = 2 + below(3);
        Generated g = nodes(2 + chains * (length - 1));
        std::vector<double> km(length), fidelity(length), rate(length);
        for (int i = 0; i < length; ++i) {
            km[i] = random() % 3 ? uniform(0, 10) : pick(palette_->km, 5, 6000);
            fidelity[i] = random() % 3 ? uniform(0.3, 1) : pick(palette_->fidelity, 0.75, 0.98);
            rate[i] = random() % 3 ? uniform(0, 2000) : pick(palette_->rate, 50, 2000);
        }
        struct Planned {
            int a, b;
            double km, fidelity, rate;
        };
        std::vector<Planned> planned;
        std::vector<int> order(length);
        for (int i = 0; i < length; ++i) order[i] = i;
        double sum = 0.0, product = 1.0, success = 0.0;
        for (int chain = 0; chain < chains; ++chain) {
            std::shuffle(order.begin(), order.end(), random);
            for (int hop = 0, previous = 0; hop < length; ++hop) {
                const int next = hop + 1 == length ? 1 : 2 + chain * (length - 1) + hop, i = order[hop];
                planned.push_back({previous, next, km[i], fidelity[i], rate[i]});
                if (chain == 0) sum += km[i], product *= fidelity[i], success += fidelity[i] * rate[i];
                previous = next;
            }
        }
        const double step = std::array{0.0, kInf, -kInf}[below(3)];
        auto beside = [step](double x) { return step == 0.0 ? x : std::nextafter(x, step); };
        if (random() % 3)
            planned.push_back({0, 1, beside(sum), beside(product), rate[0]});
        else
            planned.push_back({0, 1, beside(sum), 1.0, beside(success)});
        std::shuffle(planned.begin(), planned.end(), random);
        for (const auto& p : planned)
            g.network.add_link(g.names[p.a], g.names[p.b], LinkType::Fiber, p.km, p.fidelity, p.rate);
        return g;
    }

    // Every link with the same figures (now and then one a step beside them), so that every path of a
    // length scores alike: fidelity times rate exact (990), or rounded (316.35, 0.30000000000000004).
    Generated equal_figures() {
        const int n = 3 + below(6);
        Generated g = nodes(n);
        const double figures[][2] = {{0.99, 1000.0}, {0.95, 333.0}, {0.1, 3.0}, {1.0, 0.1}};
        const auto [fidelity, rate] = figures[below(4)];
        const bool full = random() % 2;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (full || below(3)) g.network.add_link(g.names[i], g.names[j], LinkType::Fiber, 1.0, fidelity, rate);
        if (random() % 3 == 0 && !g.network.links().empty()) {
            const auto odd = g.network.links()[random() % g.network.links().size()];
            g.network.add_link(odd.to, odd.from, LinkType::Fiber, 1.0, fidelity, std::nextafter(rate, kInf));
        }
        extras(g, n);
        return g;
    }

    // More than 64 nodes in a line from n0 to n1 with a few short chords and side branches: few
    // paths, searched in the sparse form.
    Generated long_chain() {
        const int n = 66 + below(10);
        Generated g = nodes(n);
        std::vector<int> line{0};
        for (int i = 2; i < n - 6; ++i) line.push_back(i);
        line.push_back(1);
        for (std::size_t i = 0; i + 1 < line.size(); ++i) link(g, line[i], line[i + 1]);
        for (int k = below(7); k > 0; --k) {
            const int at = below(static_cast<int>(line.size()) - 3);
            link(g, line[at], line[at + 2 + below(2)]);
        }
        for (int i = n - 6; i < n; ++i) link(g, i, line[below(static_cast<int>(line.size()))]);  // dangling
        extras(g, n);
        return g;
    }

    const Palette* palette_ = nullptr;
};

TEST_CASE("every strategy's bounded search returns the literal enumeration's route, bit for bit") {
    Generator generator(2024);
    const int rounds = std::getenv("VORN_SANITIZED") ? 500 : 2500;  // ASan and UBSan slow the search several times over
    int searches = 0, bounded = 0, routes = 0;
    for (int round = 0; round < rounds; ++round) {
        const Generated g = generator.next(round);
        const RouteGraph graph = build_route_graph(g.network);
        for (int pair = 0; pair < 3; ++pair) {
            const std::string& from = pair == 0 ? g.names[0] : g.names[generator.random() % g.names.size()];
            const std::string& to = pair == 0 ? g.names[1] : g.names[generator.random() % g.names.size()];
            for (const Strategy& strategy : kStrategies) {
                const RouteSearch fast = search_routes(g.network, graph, from, to, strategy.type);
                const Reference slow = literal_search(g.network, from, to, strategy);
                ++searches;
                bounded += fast.bounded;
                if (fast.bounded)
                    CHECK(fast.candidates <= slow.candidates);
                else
                    CHECK_EQ(fast.candidates, slow.candidates);
                CHECK_EQ(fast.route.has_value(), slow.route.has_value());
                if (!fast.route || !slow.route) continue;
                ++routes;
                if (fast.route->path != slow.route->path || fast.route->hop_links != slow.route->hop_links ||
                    !check::same_double(fast.route->fidelity, slow.route->fidelity))
                    check::fail(__FILE__, __LINE__,
                                "round " + std::to_string(round) + ", " + from + " to " + to + ", strategy " +
                                    std::string(describe::member_name(strategy.type)));
            }
        }
    }
    std::printf("     %d searches, %d bounded, %d with a route\n", searches, bounded, routes);
    CHECK(bounded > searches / 4 && routes > searches / 2);
}

TEST_CASE("a path thousands of nodes long needs no deep call stack") {
    QuantumNetwork network = fixtures::chain(20000, 1.0, 0.9999);
    network.add_link("N0", "N19999", LinkType::Fiber, 1e9, 0.1, 1.0);
    const auto route = find_route(network, "N0", "N19999", kLatency);
    CHECK(route && route->path.size() == 20000 && route->hop_links.size() == 19999);
}

TEST_CASE("bounds leave a handful of candidates in meshes the enumeration cannot finish") {
    // 20 x 20 grid of equal 50 km links: ~10^10 shortest paths tie, and the earliest wins at once.
    QuantumNetwork grid;
    auto at = [](int r, int c) { return "g" + std::to_string(r) + "_" + std::to_string(c); };
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c) grid.add_node(at(r, c), 1.0);
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c) {
            if (c + 1 < 20)
                grid.add_link(at(r, c), at(r, c + 1), LinkType::Fiber, 50.0, 0.9 + 0.001 * ((r * c) % 7), 100);
            if (r + 1 < 20)
                grid.add_link(at(r, c), at(r + 1, c), LinkType::Fiber, 50.0, 0.9 + 0.001 * ((r + c) % 5), 100);
        }
    // 24 fully meshed nodes with distinct real figures.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> km(5, 6000), fidelity(0.75, 0.98);
    const auto full = mesh("K", 24, [&](int, int) { return std::pair{km(random), fidelity(random)}; });
    const struct {
        const QuantumNetwork& network;
        const char *from, *to;
        StrategyType strategy;
        std::size_t hops;
    } cases[] = {{grid, "g0_0", "g19_19", kLatency, 38},
                 {grid, "g0_0", "g19_19", kFidelity, 0},
                 {full, "K0", "K23", kLatency, 0},
                 {full, "K0", "K23", kFidelity, 0}};
    for (const auto& c : cases) {
        const RouteSearch search = search_routes(c.network, c.from, c.to, c.strategy);
        CHECK(search.bounded && search.candidates <= 50 && search.route);
        if (c.hops && search.route) CHECK_EQ(search.route->hop_links.size(), c.hops);
    }
}

TEST_CASE("HighestSuccess: ties on a full mesh and varied figures on a larger one leave few candidates") {
    // 14 nodes of equal figures: every Hamiltonian path ties, and the first met in reverse order wins.
    const auto equal = mesh("E", 14, [](int, int) { return std::pair{10.0, 0.99}; });
    const RouteSearch ties = search_routes(equal, "E0", "E13", kSuccess);
    CHECK(ties.bounded && ties.candidates <= 14 && ties.route && ties.route->hop_links.size() == 13);
    // The enumeration's winner among the ties: the last path in enumeration order, which visits the
    // neighbours of each node in reverse link order, so E13 is reached last from E1, E2, ... in turn.
    std::vector<std::string> last{"E0"};
    for (int i = 1; i < 13; ++i) last.push_back("E" + std::to_string(i));
    last.push_back("E13");
    CHECK(ties.route && ties.route->path == last);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> km(5, 6000), fidelity(0.75, 0.98);
    const auto varied = mesh("V", 18, [&](int, int) { return std::pair{km(random), fidelity(random)}; });
    const RouteSearch search = search_routes(varied, "V0", "V17", kSuccess);
    CHECK(search.bounded && search.candidates <= 100000 && search.route && search.route->hop_links.size() == 17);
}

TEST_CASE("estimates count the nodes on some path and tell which searches may take long") {
    // A chain N0 .. N9 with a dead-end branch off N4 and a side loop N2-X-N3.
    QuantumNetwork network = fixtures::chain(10, 10.0, 0.9);
    network.add_link("N4", "D1", LinkType::Fiber, 1.0, 0.9, 1.0);
    network.add_link("D1", "D2", LinkType::Fiber, 1.0, 0.9, 1.0);
    network.add_link("N2", "X", LinkType::Fiber, 1.0, 0.9, 1.0);
    network.add_link("X", "N3", LinkType::Fiber, 1.0, 0.9, 1.0);
    const RouteSearchEstimate chain = estimate_route_search(network, "N0", "N9", kSuccess);
    CHECK(chain.nodes == 11 && chain.links == 11 && chain.bounded && chain.exponential && !chain.likely_long);
    CHECK(chain.log2_paths == 2.0);  // N2 and N3 offer two ways on each: a rough upper estimate of the 2 paths
    CHECK(!estimate_route_search(network, "N0", "N9", kLatency).exponential);
    CHECK_EQ(estimate_route_search(network, "N0", "nowhere", kLatency).nodes, std::size_t{0});

    const auto wide = mesh("W", 40, [](int i, int j) { return std::pair{1.0 + i + j, 0.9}; });
    const RouteSearchEstimate success = estimate_route_search(wide, "W0", "W39", kSuccess);
    CHECK(success.nodes == 40 && success.links == 780 && success.likely_long);
    CHECK(!estimate_route_search(wide, "W0", "W39", kLatency).likely_long);
    auto broken = complete_graph(12);
    broken.add_link("N1", "X", LinkType::Fiber, kNaN, 0.9, 1.0);  // no bounds: every path is scored
    broken.add_link("X", "N2", LinkType::Fiber, 1.0, 0.9, 1.0);
    const RouteSearchEstimate unbounded = estimate_route_search(broken, "N0", "N11", kLatency);
    CHECK(!unbounded.bounded && unbounded.exponential && unbounded.likely_long && unbounded.log2_paths > 25.0);
}

TEST_CASE("no path: the search ends without enumerating the start's side") {
    auto network = complete_graph(16);
    network.add_node("alone", 1.0);
    for (const Strategy& strategy : kStrategies) {
        const RouteSearch search = search_routes(network, "N0", "alone", strategy.type);
        CHECK(!search.route && search.candidates == 0);
    }
}

CHECK_MAIN()
