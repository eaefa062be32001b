#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The same generated text, tokenizer and evaluating parser as the Kestal
   program. Tokens are kinds with offsets into the text; variables and name
   uses live in open-addressing hash tables keyed by those slices. */
enum { MODULUS = 1000003, STATEMENTS = 120000 };

static const char *const NAMES[] = {"alpha", "beta", "gamma", "delta", "total", "count", "width", "x", "y", "z"};
static const char *const COMPARISONS[] = {"<", ">", "==", "!=", "<=", ">="};
static const char *const OPERATORS[] = {"+", "-", "*"};

/* ---- text generation ---- */

typedef struct {
    char *data;
    size_t len, cap;
} buffer;

static void put(buffer *b, const char *s, size_t n) {
    if (b->len + n > b->cap) {
        while (b->len + n > b->cap) b->cap = b->cap ? b->cap * 2 : 4096;
        b->data = realloc(b->data, b->cap);
    }
    memcpy(b->data + b->len, s, n);
    b->len += n;
}

static void puts_(buffer *b, const char *s) { put(b, s, strlen(s)); }

/* v >= 0 */
static void put_int(buffer *b, int64_t v) {
    char digits[24];
    char *end = digits + sizeof digits, *p = end;
    do {
        *--p = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    put(b, p, (size_t)(end - p));
}

static uint64_t state;

static int64_t below(int64_t n) {
    state = (state * 1103515245 + 12345) % 2147483648u;
    return (int64_t)(state >> 16) % n;
}

static void gen_name(buffer *b) {
    puts_(b, NAMES[below(10)]);
    put_int(b, below(40));
}

static void gen_expr(buffer *b, int depth);

static void gen_term(buffer *b, int depth) {
    int64_t k = below(10);
    if (depth > 2 || k < 4) {
        put_int(b, below(1000));
    } else if (k < 7) {
        gen_name(b);
    } else if (k == 7) {
        puts_(b, "(");
        gen_expr(b, depth + 1);
        puts_(b, ")");
    } else if (k == 8) {
        puts_(b, "neg(");
        gen_expr(b, depth + 1);
        puts_(b, ")");
    } else {
        puts_(b, below(2) == 0 ? "max(" : "min(");
        gen_expr(b, depth + 1);
        puts_(b, ", ");
        gen_expr(b, depth + 1);
        puts_(b, ")");
    }
}

static void gen_expr(buffer *b, int depth) {
    gen_term(b, depth);
    for (int64_t i = 0, n = below(4); i < n; i++) {
        puts_(b, " ");
        puts_(b, OPERATORS[below(3)]);
        puts_(b, " ");
        gen_term(b, depth);
    }
}

static void gen_statement(buffer *b) {
    int64_t k = below(10);
    if (k < 4) {
        puts_(b, "let ");
        gen_name(b);
        puts_(b, " = ");
        gen_expr(b, 0);
        puts_(b, ";");
    } else if (k < 6) {
        gen_name(b);
        puts_(b, " += ");
        gen_expr(b, 0);
        puts_(b, ";");
    } else if (k < 8) {
        puts_(b, "print ");
        gen_expr(b, 0);
        puts_(b, ";");
    } else if (k == 8) {
        const char *comparison = COMPARISONS[below(6)];
        puts_(b, "when ");
        gen_expr(b, 1);
        puts_(b, " ");
        puts_(b, comparison);
        puts_(b, " ");
        gen_expr(b, 1);
        puts_(b, " set ");
        gen_name(b);
        puts_(b, " = ");
        gen_expr(b, 1);
        puts_(b, ";");
    } else {
        puts_(b, "# note ");
        for (int64_t i = 0, n = below(6); i < n; i++) {
            if (i) puts_(b, " ");
            gen_name(b);
        }
    }
}

/* ---- tokens ---- */

enum kind {
    ADD_ASSIGN, ASSIGN, COMMA, END, EQ, GE, GT, LE, LET, LPAREN, LT, MINUS, NAME,
    NE, NUMBER, PLUS, PRINT, RPAREN, SEMI, SET, STAR, WHEN, KINDS
};
/* In sorted order, as the enum. */
static const char *const KIND_NAMES[KINDS] = {
    "ADD_ASSIGN", "ASSIGN", "COMMA", "END", "EQ", "GE", "GT", "LE", "LET", "LPAREN", "LT", "MINUS", "NAME",
    "NE", "NUMBER", "PLUS", "PRINT", "RPAREN", "SEMI", "SET", "STAR", "WHEN"};

typedef struct {
    enum kind kind;
    const char *text;
    int32_t len;
} token;

typedef struct {
    token *items;
    size_t len, cap;
} tokens;

static void add_token(tokens *t, enum kind kind, const char *text, size_t len) {
    if (t->len == t->cap) {
        t->cap = t->cap ? t->cap * 2 : 1024;
        t->items = realloc(t->items, t->cap * sizeof *t->items);
    }
    t->items[t->len++] = (token){kind, text, (int32_t)len};
}

static bool is_digit(char c) { return c >= '0' && c <= '9'; }
static bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

static enum kind keyword(const char *s, size_t n) {
    if (n == 3 && memcmp(s, "let", 3) == 0) return LET;
    if (n == 5 && memcmp(s, "print", 5) == 0) return PRINT;
    if (n == 4 && memcmp(s, "when", 4) == 0) return WHEN;
    if (n == 3 && memcmp(s, "set", 3) == 0) return SET;
    return NAME;
}

/* The kind of a one- or two-character symbol, or -1. */
static int symbol(const char *s, size_t n) {
    if (n == 2) {
        if (s[1] != '=') return -1;
        switch (s[0]) {
        case '=': return EQ;
        case '!': return NE;
        case '<': return LE;
        case '>': return GE;
        case '+': return ADD_ASSIGN;
        default: return -1;
        }
    }
    switch (s[0]) {
    case '+': return PLUS;
    case '-': return MINUS;
    case '*': return STAR;
    case '(': return LPAREN;
    case ')': return RPAREN;
    case ',': return COMMA;
    case ';': return SEMI;
    case '=': return ASSIGN;
    case '<': return LT;
    case '>': return GT;
    default: return -1;
    }
}

static tokens tokenize(const char *text, size_t n) {
    tokens t = {0};
    size_t i = 0;
    while (i < n) {
        char ch = text[i];
        if (ch == ' ' || ch == '\n') {
            i++;
        } else if (ch == '#') {
            const char *end = memchr(text + i, '\n', n - i);
            i = end ? (size_t)(end - text) : n;
        } else if (is_digit(ch)) {
            size_t start = i;
            while (i < n && is_digit(text[i])) i++;
            add_token(&t, NUMBER, text + start, i - start);
        } else if (is_alpha(ch) || ch == '_') {
            size_t start = i;
            while (i < n && (is_alpha(text[i]) || is_digit(text[i]) || text[i] == '_')) i++;
            add_token(&t, keyword(text + start, i - start), text + start, i - start);
        } else {
            int k;
            if (i + 1 < n && (k = symbol(text + i, 2)) >= 0) {
                add_token(&t, (enum kind)k, text + i, 2);
                i += 2;
            } else if ((k = symbol(text + i, 1)) >= 0) {
                add_token(&t, (enum kind)k, text + i, 1);
                i += 1;
            } else {
                fprintf(stderr, "unexpected character %c at %zu\n", ch, i);
                exit(1);
            }
        }
    }
    add_token(&t, END, "", 0);
    return t;
}

/* ---- a table from name slices to ints ---- */

typedef struct {
    const char *key;
    int32_t len;
    int64_t value;
} entry;

typedef struct {
    entry *slots;
    size_t cap, count;
} table;

static uint64_t hash(const char *s, size_t n) {
    uint64_t h = 1469598103934665603u;
    for (size_t i = 0; i < n; i++) h = (h ^ (unsigned char)s[i]) * 1099511628211u;
    return h;
}

static entry *slot(table *t, const char *key, size_t n) {
    size_t mask = t->cap - 1;
    for (size_t i = hash(key, n) & mask;; i = (i + 1) & mask) {
        entry *e = &t->slots[i];
        if (!e->key || ((size_t)e->len == n && memcmp(e->key, key, n) == 0)) return e;
    }
}

static entry *find(table *t, const char *key, size_t n) {
    if (!t->cap) return NULL;
    entry *e = slot(t, key, n);
    return e->key ? e : NULL;
}

static int64_t get(table *t, const char *key, size_t n, int64_t otherwise) {
    entry *e = find(t, key, n);
    return e ? e->value : otherwise;
}

static void store(table *t, const char *key, size_t n, int64_t value) {
    if ((t->count + 1) * 4 > t->cap * 3) {
        table bigger = {calloc(t->cap ? t->cap * 2 : 16, sizeof(entry)), t->cap ? t->cap * 2 : 16, t->count};
        for (size_t i = 0; i < t->cap; i++)
            if (t->slots[i].key) *slot(&bigger, t->slots[i].key, (size_t)t->slots[i].len) = t->slots[i];
        free(t->slots);
        *t = bigger;
    }
    entry *e = slot(t, key, n);
    if (!e->key) {
        e->key = key;
        e->len = (int32_t)n;
        t->count++;
    }
    e->value = value;
}

/* ---- the parser ---- */

typedef struct {
    const token *tokens;
    size_t pos;
    table variables, uses;
    int64_t checksum, statements;
} parser;

static int64_t mod(int64_t v) {
    int64_t r = v % MODULUS;
    return r < 0 ? r + MODULUS : r;
}

static enum kind peek(const parser *p) { return p->tokens[p->pos].kind; }

static const token *take(parser *p, enum kind kind) {
    const token *t = &p->tokens[p->pos];
    if (t->kind != kind) {
        fprintf(stderr, "expected %s, found %s '%.*s' at token %zu\n", KIND_NAMES[kind], KIND_NAMES[t->kind], t->len,
                t->text, p->pos);
        exit(1);
    }
    p->pos++;
    return t;
}

static bool compare(enum kind op, int64_t left, int64_t right) {
    switch (op) {
    case LT: return left < right;
    case GT: return left > right;
    case EQ: return left == right;
    case NE: return left != right;
    case LE: return left <= right;
    default: return left >= right;
    }
}

static int64_t expr(parser *p);

static int64_t factor(parser *p) {
    enum kind kind = peek(p);
    if (kind == NUMBER) {
        const token *t = take(p, NUMBER);
        int64_t v = 0;
        for (int32_t i = 0; i < t->len; i++) v = v * 10 + (t->text[i] - '0');
        return v;
    }
    if (kind == LPAREN) {
        take(p, LPAREN);
        int64_t value = expr(p);
        take(p, RPAREN);
        return value;
    }
    const token *name = take(p, NAME);
    if (peek(p) != LPAREN) {
        store(&p->uses, name->text, (size_t)name->len, get(&p->uses, name->text, (size_t)name->len, 0) + 1);
        return get(&p->variables, name->text, (size_t)name->len, 0);
    }
    int arity;
    if (name->len == 3 && memcmp(name->text, "neg", 3) == 0)
        arity = 1;
    else if (name->len == 3 && (memcmp(name->text, "max", 3) == 0 || memcmp(name->text, "min", 3) == 0))
        arity = 2;
    else {
        fprintf(stderr, "unknown function %.*s\n", name->len, name->text);
        exit(1);
    }
    take(p, LPAREN);
    int64_t args[2] = {0, 0};
    int count = 0;
    args[count++] = expr(p);
    while (peek(p) == COMMA) {
        take(p, COMMA);
        int64_t v = expr(p);
        if (count < 2) args[count] = v;
        count++;
    }
    take(p, RPAREN);
    if (count != arity) {
        fprintf(stderr, "%.*s takes %d arguments, not %d\n", name->len, name->text, arity, count);
        exit(1);
    }
    if (arity == 1) return mod(-args[0]);
    if (name->text[1] == 'a') return args[0] > args[1] ? args[0] : args[1];
    return args[0] < args[1] ? args[0] : args[1];
}

static int64_t term(parser *p) {
    int64_t value = factor(p);
    while (peek(p) == STAR) {
        take(p, STAR);
        value = mod(value * factor(p));
    }
    return value;
}

static int64_t expr(parser *p) {
    int64_t value = term(p);
    while (peek(p) == PLUS || peek(p) == MINUS) {
        if (take(p, peek(p))->text[0] == '+')
            value = mod(value + term(p));
        else
            value = mod(value - term(p));
    }
    return value;
}

static void statement(parser *p) {
    enum kind kind = peek(p);
    if (kind == LET) {
        take(p, LET);
        const token *name = take(p, NAME);
        take(p, ASSIGN);
        store(&p->variables, name->text, (size_t)name->len, expr(p));
    } else if (kind == PRINT) {
        take(p, PRINT);
        p->checksum = mod(p->checksum * 31 + expr(p));
    } else if (kind == WHEN) {
        take(p, WHEN);
        int64_t left = expr(p);
        enum kind op = peek(p);
        p->pos++;
        int64_t right = expr(p);
        take(p, SET);
        const token *name = take(p, NAME);
        take(p, ASSIGN);
        int64_t value = expr(p);
        if (compare(op, left, right)) store(&p->variables, name->text, (size_t)name->len, value);
    } else {
        const token *name = take(p, NAME);
        take(p, ADD_ASSIGN);
        int64_t old = get(&p->variables, name->text, (size_t)name->len, 0);
        store(&p->variables, name->text, (size_t)name->len, mod(old + expr(p)));
    }
    take(p, SEMI);
    p->statements++;
}

/* ---- reports ---- */

static int compare_names(const entry *a, const entry *b) {
    int c = memcmp(a->key, b->key, (size_t)(a->len < b->len ? a->len : b->len));
    return c ? c : a->len - b->len;
}

static int by_name(const void *a, const void *b) { return compare_names(a, b); }

static int by_count_then_name(const void *a, const void *b) {
    const entry *x = a, *y = b;
    if (x->value != y->value) return x->value > y->value ? -1 : 1;
    return compare_names(x, y);
}

static entry *entries(const table *t) {
    entry *out = malloc((t->count ? t->count : 1) * sizeof *out);
    size_t n = 0;
    for (size_t i = 0; i < t->cap; i++)
        if (t->slots[i].key) out[n++] = t->slots[i];
    return out;
}

int main(void) {
    buffer text = {0};
    state = 2024;
    for (int i = 0; i < STATEMENTS; i++) {
        if (i) puts_(&text, "\n");
        gen_statement(&text);
    }
    puts_(&text, "\n");
    size_t lines = 0;
    for (size_t i = 0; i < text.len; i++) lines += text.data[i] == '\n';
    printf("text: %zu bytes, %zu lines\n", text.len, lines);
    printf("%.*s\n", (int)((char *)memchr(text.data, '\n', text.len) - text.data), text.data);

    tokens toks = tokenize(text.data, text.len);
    int64_t kinds[KINDS] = {0};
    for (size_t i = 0; i < toks.len; i++) kinds[toks.items[i].kind]++;
    printf("%zu tokens:", toks.len);
    bool first = true;
    for (int k = 0; k < KINDS; k++) {
        if (!kinds[k]) continue;
        printf("%s %s %lld", first ? "" : ",", KIND_NAMES[k], (long long)kinds[k]);
        first = false;
    }
    printf("\n");

    parser p = {.tokens = toks.items};
    while (peek(&p) != END) statement(&p);
    printf("%lld statements, checksum %lld\n", (long long)p.statements, (long long)p.checksum);
    entry *vars = entries(&p.variables);
    int64_t sum = 0;
    for (size_t i = 0; i < p.variables.count; i++) sum += vars[i].value;
    printf("%zu variables, sum %lld\n", p.variables.count, (long long)sum);
    entry *uses = entries(&p.uses);
    qsort(uses, p.uses.count, sizeof *uses, by_count_then_name);
    printf("most used:");
    for (size_t i = 0; i < 5 && i < p.uses.count; i++)
        printf("%s %.*s %lld", i ? "," : "", uses[i].len, uses[i].key, (long long)uses[i].value);
    printf("\n");
    qsort(vars, p.variables.count, sizeof *vars, by_name);
    printf("first:");
    for (size_t i = 0; i < 5 && i < p.variables.count; i++)
        printf("%s %.*s=%lld", i ? "," : "", vars[i].len, vars[i].key, (long long)vars[i].value);
    printf("\n");
    free(vars);
    free(uses);
    free(p.variables.slots);
    free(p.uses.slots);
    free(toks.items);
    free(text.data);
    return 0;
}
